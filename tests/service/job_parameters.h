#pragma once
// Jobs as the window submits them before any level is changed.

#include <string>
#include <utility>

#include "service/synthesis_job.h"

// A job for that speaker and track at the window's first levels: speed 慢 and pitch 正常 (both
// 50), voice 高 (10), background 很低 (-5).
inline SynthesisParameters JobAtWindowLevels(std::string content, std::string readerId,
                                             std::string backgroundPath, std::string backgroundId) {
    return {.content = std::move(content),
            .readerId = std::move(readerId),
            .backgroundPath = std::move(backgroundPath),
            .backgroundId = std::move(backgroundId),
            .speed = "50",
            .readerVolume = "10",
            .backgroundVolume = "-5",
            .pitch = "50"};
}
