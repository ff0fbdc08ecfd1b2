#include "app/level_settings.h"

#include "text/text_scan.h"

std::string SpeedSetting(int index) {
    return NumberToText(index * 10.0 + 40);
}

std::string PitchSetting(int index) {
    return NumberToText(index * 10.0 + 30);
}

std::string VolumeSetting(int index) {
    return NumberToText(index * 5.0 - 5);
}
