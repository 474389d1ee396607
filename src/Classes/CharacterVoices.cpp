#include "CharacterVoices.h"

#include <algorithm>

#include "VoiceEngineState.h"

void useCharacterVoice(int character) {
  const CharacterVoice& voice = kCharacterVoices[std::clamp(character, 0, 3)];
  setVoice({voice.pitch, voice.tempo, 1.0f});
}
