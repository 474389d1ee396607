#pragma once
// The UIKit stand-in in one include: views, layers, images, fonts and text, the window.
#include "platform/CALayer.h"
#include "platform/CoreGraphics.h"
#include "platform/UIImage.h"
#include "platform/UIView.h"
#include "platform/UIWindow.h"
