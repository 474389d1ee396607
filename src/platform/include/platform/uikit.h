#pragma once
// The UIKit stand-in in one include: views, layers, images, fonts and text, the window.
#include "platform/calayer.h"
#include "platform/cg.h"
#include "platform/uiimage.h"
#include "platform/uiview.h"
#include "platform/uiwindow.h"
