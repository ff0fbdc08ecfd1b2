#pragma once
// The player's tests run with a player of their own installed as the one the playback functions
// use, no alias left from another test, and a temporary folder for their clips.

#include <gtest/gtest.h>

#include "playback/audio_player.h"
#include "tests/playback/tone_mp3.h"

class PlayerFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        CurrentPlaybackAlias.clear();
        InstallMediaPlayer(&player_);
    }
    void TearDown() override {
        InstallMediaPlayer(nullptr);
        CurrentPlaybackAlias.clear();
    }

    TempFolder folder_;
    Mp3Player player_;
};
