#pragma once
// The numbers the service receives for the window's speed, pitch and volume lists. Each list
// offers five levels, picked by index 0 to 4 (-1 when nothing is picked, which the formulas take
// as they stand); the window's Play command and dubdesk synthesize both turn indexes into
// settings here.

#include <string>

// index × 10 + 40
std::string SpeedSetting(int index);
// index × 10 + 30
std::string PitchSetting(int index);
// index × 5 − 5, for the voice and the background alike
std::string VolumeSetting(int index);
