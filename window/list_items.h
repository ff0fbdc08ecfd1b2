#pragma once
// The items of the window's fixed lists, in list order, as UTF-8: the window shows them and the
// synthesize subcommand takes them by name and prints them.

#include <array>

inline constexpr std::array<const char8_t*, 5> kVoiceTypeItems = {u8"推荐", u8"中文", u8"方言",
                                                                  u8"外语", u8"特色"};
inline constexpr std::array<const char8_t*, 10> kBackgroundTypeItems = {
    u8"本地", u8"喜庆", u8"古韵", u8"欢乐", u8"浪漫",
    u8"童真", u8"清新", u8"大气", u8"柔和", u8"伤感"};
// Speed and pitch.
inline constexpr std::array<const char8_t*, 5> kSpeedItems = {u8"很慢", u8"慢", u8"正常", u8"快",
                                                              u8"很快"};
// Voice volume and background volume.
inline constexpr std::array<const char8_t*, 5> kVolumeItems = {u8"很低", u8"低", u8"正常", u8"高",
                                                               u8"很高"};
