#pragma once
// The four characters' voices, left to right: the processor's pitch and tempo factors, and a
// few words a user can pick one by.
struct CharacterVoice {
  float pitch;
  float tempo;
  const char* description;
};
inline constexpr CharacterVoice kCharacterVoices[4] = {
    {2.0f, 1.0f, "an octave up"},
    {1.6f, 1.3f, "lowest voice, a little faster"},
    {2.5f, 1.0f, "highest voice"},
    {2.0f, 2.0f, "an octave up at double speed"},
};

// Gives the engine a character's voice (gain 1), as selecting it in the view does.
void useCharacterVoice(int character);
