#include "server/server_catalogue.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "server/mp3_encoding.h"

namespace dubserver {
namespace {

using Json = nlohmann::ordered_json;

// Category numbers of the readerInfo paths.
constexpr int kRecommended = 1;
constexpr int kChinese = 12;
constexpr int kDialect = 4;
constexpr int kForeign = 2;
constexpr int kCharacter = 3;

constexpr char kMandarin[] = "cmn-latn-pinyin";
constexpr int64_t kCatalogueEpochMs = 1698768000000;  // when the catalogue was "published"
constexpr int64_t kDayMs = 86400000;

std::string Greeting(std::string_view name) {
    return std::string("大家好，我是") + std::string(name) + "，欢迎使用配音服务。";
}

std::vector<Speaker> AllSpeakers() {
    const std::vector<int> both{kRecommended, kChinese};
    const std::vector<int> chinese{kChinese};
    std::vector<Speaker> speakers{
        {101, "晓雯", kMandarin, "f2", both, {}},
        {102, "子轩", kMandarin, "m3", both, {}},
        {103, "若曦", kMandarin, "f4", both, {}},
        {104, "浩然", kMandarin, "m1", both, {}},
        {105, "雨桐", kMandarin, "f1", chinese, {}},
        {106, "思琪", kMandarin, "f3", chinese, {}},
        {107, "诗涵", kMandarin, "f5", chinese, {}},
        {108, "俊杰", kMandarin, "m2", chinese, {}},
        {109, "志明", kMandarin, "m4", chinese, {}},
        {110, "国栋", kMandarin, "m7", chinese, {}},
        {111, "标准男声", kMandarin, "", chinese, {}},
        // Cantonese is the only other Chinese voice whose data reads Chinese characters.
        {401, "粤语·嘉欣", "yue", "f2", {kDialect}, {}},
        {402, "粤语·家豪", "yue", "m3", {kDialect}, {}},
        {403, "粤语·美玲", "yue", "f4", {kDialect}, {}},
        {404, "粤语·标准", "yue", "", {kDialect}, {}},
        {201,
         "艾米莉（美式英语）",
         "en-us",
         "f2",
         {kForeign},
         "Hello, welcome to the dubbing service."},
        {202,
         "詹姆斯（英式英语）",
         "en",
         "m3",
         {kForeign},
         "Good afternoon, and welcome to the dubbing service."},
        {203, "樱子（日语）", "ja", "f2", {kForeign}, "こんにちは、ようこそ。"},
        {204, "敏浩（韩语）", "ko", "m2", {kForeign}, "안녕하세요, 환영합니다."},
        {205, "苏菲（法语）", "fr", "f3", {kForeign}, "Bonjour et bienvenue."},
        {206, "汉斯（德语）", "de", "m1", {kForeign}, "Guten Tag und herzlich willkommen."},
        {207, "卡门（西班牙语）", "es", "f4", {kForeign}, "Hola, bienvenidos."},
        {208, "伊万（俄语）", "ru", "m2", {kForeign}, "Здравствуйте, добро пожаловать."},
        {209, "索菲亚（意大利语）", "it", "f1", {kForeign}, "Buongiorno e benvenuti."},
        {210, "阿明（越南语）", "vi", "m3", {kForeign}, "Xin chào, chào mừng bạn."},
        {211, "娜娜（泰语）", "th", "f2", {kForeign}, "สวัสดีค่ะ ยินดีต้อนรับ"},
        {301, "悄悄话", kMandarin, "whisper", {kCharacter}, {}},
        {302, "悄悄话女声", kMandarin, "whisperf", {kCharacter}, {}},
        {303, "沙哑大叔", kMandarin, "croak", {kCharacter}, {}},
        {304, "复古电子", kMandarin, "klatt", {kCharacter}, {}},
        {305, "老奶奶", kMandarin, "grandma", {kCharacter}, {}},
        {306, "老爷爷", kMandarin, "grandpa", {kCharacter}, {}},
        {307, "机器人", kMandarin, "robosoft", {kCharacter}, {}},
        {308, "小精灵", kMandarin, "Tweaky", {kCharacter}, {}},
        {309, "魔王", kMandarin, "Demonic", {kCharacter}, {}},
    };
    for (Speaker& speaker : speakers) {
        if (speaker.sampleText.empty()) {
            speaker.sampleText = Greeting(speaker.name);
        }
    }
    return speakers;
}

std::vector<BackgroundTrack> AllTracks() {
    using enum Timbre;
    const std::vector<int> festive{0, 0, 3, 4, 0, 5, 3, 4};
    const std::vector<int> pop{0, 4, 5, 3, 0, 4, 3, 4};
    return {
        {9001,
         "我的音乐·轻快",
         0,
         {.beatsPerMinute = 116,
          .tonic = 62,
          .chords = pop,
          .chordTimbre = kPluck,
          .melodyTimbre = kBell,
          .melodyNotesPerBeat = 2,
          .drums = true,
          .seed = 11}},
        {9002,
         "我的音乐·舒缓",
         0,
         {.beatsPerMinute = 64,
          .tonic = 60,
          .chords = {0, 5, 3, 4},
          .chordTimbre = kPad,
          .melodyTimbre = kPluck,
          .seed = 12}},
        {401,
         "锣鼓迎春",
         4,
         {.beatsPerMinute = 132,
          .tonic = 62,
          .pentatonic = true,
          .chords = festive,
          .chordTimbre = kOrgan,
          .melodyTimbre = kPluck,
          .melodyNotesPerBeat = 2,
          .drums = true,
          .seed = 41}},
        {402,
         "张灯结彩",
         4,
         {.beatsPerMinute = 126,
          .tonic = 65,
          .pentatonic = true,
          .chords = {0, 3, 4, 0, 0, 3, 4, 4},
          .chordTimbre = kPluck,
          .melodyTimbre = kChip,
          .melodyNotesPerBeat = 2,
          .drums = true,
          .seed = 42}},
        {901,
         "高山流水",
         9,
         {.beatsPerMinute = 66,
          .tonic = 57,
          .minor = true,
          .pentatonic = true,
          .chords = {0, 5, 3, 4},
          .chordTimbre = kPad,
          .melodyTimbre = kPluck,
          .melodyNotesPerBeat = 2,
          .seed = 91}},
        {902,
         "渔舟唱晚",
         9,
         {.beatsPerMinute = 72,
          .tonic = 60,
          .pentatonic = true,
          .chords = {0, 3, 0, 4},
          .chordTimbre = kPluck,
          .melodyTimbre = kPluck,
          .seed = 92}},
        {801,
         "快乐时光",
         8,
         {.beatsPerMinute = 124,
          .tonic = 60,
          .chords = pop,
          .chordTimbre = kOrgan,
          .melodyTimbre = kChip,
          .melodyNotesPerBeat = 2,
          .drums = true,
          .seed = 81}},
        {802,
         "阳光午后",
         8,
         {.beatsPerMinute = 118,
          .tonic = 67,
          .chords = {0, 3, 4, 0, 5, 3, 4, 0},
          .chordTimbre = kPluck,
          .melodyTimbre = kBell,
          .melodyNotesPerBeat = 2,
          .drums = true,
          .seed = 82}},
        {101,
         "月光小夜曲",
         1,
         {.beatsPerMinute = 76,
          .tonic = 65,
          .chords = {0, 5, 1, 4},
          .chordTimbre = kPad,
          .melodyTimbre = kBell,
          .seed = 101}},
        {102,
         "玫瑰之约",
         1,
         {.beatsPerMinute = 80,
          .tonic = 63,
          .chords = {0, 2, 3, 4},
          .chordTimbre = kPad,
          .melodyTimbre = kPluck,
          .melodyNotesPerBeat = 2,
          .seed = 102}},
        {601,
         "八音盒",
         6,
         {.beatsPerMinute = 112,
          .tonic = 72,
          .chords = {0, 3, 4, 0, 0, 3, 4, 0},
          .chordTimbre = kBell,
          .melodyTimbre = kBell,
          .melodyNotesPerBeat = 2,
          .seed = 61}},
        {602,
         "彩虹糖",
         6,
         {.beatsPerMinute = 120,
          .tonic = 74,
          .pentatonic = true,
          .chords = pop,
          .chordTimbre = kPluck,
          .melodyTimbre = kChip,
          .melodyNotesPerBeat = 2,
          .drums = true,
          .seed = 62}},
        {1001,
         "清晨微风",
         10,
         {.beatsPerMinute = 100,
          .tonic = 64,
          .chords = pop,
          .chordTimbre = kPluck,
          .melodyTimbre = kPluck,
          .melodyNotesPerBeat = 2,
          .drums = true,
          .seed = 1001}},
        {1002,
         "林间小路",
         10,
         {.beatsPerMinute = 96,
          .tonic = 69,
          .pentatonic = true,
          .chords = {0, 3, 0, 4},
          .chordTimbre = kPad,
          .melodyTimbre = kBell,
          .melodyNotesPerBeat = 2,
          .seed = 1002}},
        {501,
         "壮丽山河",
         5,
         {.beatsPerMinute = 72,
          .tonic = 57,
          .minor = true,
          .chords = {0, 5, 2, 6},
          .chordTimbre = kOrgan,
          .melodyTimbre = kPad,
          .drums = true,
          .seed = 501}},
        {502,
         "远航",
         5,
         {.beatsPerMinute = 80,
          .tonic = 62,
          .minor = true,
          .chords = {0, 5, 3, 4},
          .chordTimbre = kPad,
          .melodyTimbre = kOrgan,
          .drums = true,
          .seed = 502}},
        {1101,
         "静谧时光",
         11,
         {.beatsPerMinute = 60,
          .tonic = 65,
          .chords = {0, 3, 0, 4},
          .chordTimbre = kPad,
          .melodyTimbre = kPad,
          .seed = 1101}},
        {1102,
         "云端漫步",
         11,
         {.beatsPerMinute = 64,
          .tonic = 62,
          .chords = {0, 5, 3, 4},
          .chordTimbre = kPad,
          .melodyTimbre = kBell,
          .seed = 1102}},
        {1201,
         "雨夜",
         12,
         {.beatsPerMinute = 66,
          .tonic = 57,
          .minor = true,
          .chords = {0, 5, 3, 4},
          .chordTimbre = kPad,
          .melodyTimbre = kPluck,
          .seed = 1201}},
        {1202,
         "离别",
         12,
         {.beatsPerMinute = 60,
          .tonic = 64,
          .minor = true,
          .chords = {0, 3, 5, 4},
          .chordTimbre = kPad,
          .melodyTimbre = kPluck,
          .seed = 1202}},
    };
}

std::string Dump(const Json& answer) {
    return answer.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json Success(Json data) {
    return Json{{"code", 200}, {"message", "成功"}, {"data", std::move(data)}};
}

int64_t InsertTime(int id) {
    return kCatalogueEpochMs + static_cast<int64_t>(id % 97) * kDayMs;
}

int SynthesisCount(int id) {
    return 1000 + (id * 7919) % 50000;
}

}  // namespace

const std::vector<Speaker>& Speakers() {
    static const std::vector<Speaker> offered = [] {
        const InstalledVoices installed = ListInstalledVoices();
        std::vector<Speaker> speakers = AllSpeakers();
        std::erase_if(speakers, [&](const Speaker& speaker) {
            return !installed.voices.contains(speaker.voice) ||
                   (!speaker.variant.empty() && !installed.variants.contains(speaker.variant));
        });
        return speakers;
    }();
    return offered;
}

const Speaker* FindSpeaker(int id) {
    const auto& speakers = Speakers();
    const auto found = std::find_if(speakers.begin(), speakers.end(),
                                    [id](const Speaker& speaker) { return speaker.id == id; });
    return found == speakers.end() ? nullptr : &*found;
}

std::string VoiceOf(const Speaker& speaker) {
    return speaker.variant.empty() ? speaker.voice : speaker.voice + "+" + speaker.variant;
}

std::string DefaultVoice() {
    const Speaker* first = FindSpeaker(101);
    return first != nullptr ? VoiceOf(*first) : std::string(kMandarin);
}

const std::vector<BackgroundTrack>& BackgroundTracks() {
    static const std::vector<BackgroundTrack> tracks = AllTracks();
    return tracks;
}

const BackgroundTrack* FindBackgroundTrack(int id) {
    const auto& tracks = BackgroundTracks();
    const auto found = std::find_if(tracks.begin(), tracks.end(),
                                    [id](const BackgroundTrack& track) { return track.id == id; });
    return found == tracks.end() ? nullptr : &*found;
}

const TrackAudio& AudioOfTrack(const BackgroundTrack& track) {
    struct CachedTrack {
        std::once_flag rendered;
        TrackAudio audio;
    };
    static std::vector<std::unique_ptr<CachedTrack>> cache = [] {
        std::vector<std::unique_ptr<CachedTrack>> entries;
        for (size_t i = 0; i < BackgroundTracks().size(); ++i) {
            entries.push_back(std::make_unique<CachedTrack>());
        }
        return entries;
    }();
    CachedTrack& cached = *cache[static_cast<size_t>(&track - BackgroundTracks().data())];
    std::call_once(cached.rendered, [&] {
        cached.audio.samples = RenderMusic(track.mood);
        cached.audio.mp3 = EncodeMp3(cached.audio.samples);
    });
    return cached.audio;
}

const std::string& SampleOfSpeaker(const Speaker& speaker) {
    struct CachedSample {
        std::once_flag made;
        std::string mp3;
    };
    static std::vector<std::unique_ptr<CachedSample>> cache = [] {
        std::vector<std::unique_ptr<CachedSample>> entries;
        for (size_t i = 0; i < Speakers().size(); ++i) {
            entries.push_back(std::make_unique<CachedSample>());
        }
        return entries;
    }();
    CachedSample& cached = *cache[static_cast<size_t>(&speaker - Speakers().data())];
    std::call_once(cached.made, [&] {
        const Samples samples = SynthesizeSpeech(speaker.sampleText, {.voice = VoiceOf(speaker)});
        if (!samples.empty()) {
            cached.mp3 = EncodeMp3(samples);
        }
    });
    return cached.mp3;
}

std::string PictureOfSpeaker(const Speaker& speaker) {
    // The first character of the name, whatever its UTF-8 length.
    size_t length = 1;
    while (length < speaker.name.size() &&
           (static_cast<unsigned char>(speaker.name[length]) & 0xC0) == 0x80) {
        ++length;
    }
    const int hue = (speaker.id * 47) % 360;
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"96\" height=\"96\">"
           "<circle cx=\"48\" cy=\"48\" r=\"46\" fill=\"hsl(" +
           std::to_string(hue) +
           ",55%,55%)\"/><text x=\"48\" y=\"63\" font-size=\"44\" text-anchor=\"middle\" "
           "fill=\"#fff\">" +
           speaker.name.substr(0, length) + "</text></svg>";
}

std::string TrackAddress(std::string_view origin, int trackId) {
    return std::string(origin) + "/bgvox/" + std::to_string(trackId);
}

std::string TrackFileAddress(std::string_view origin, int trackId) {
    return std::string(origin) + "/files/bgvox/" + std::to_string(trackId) + ".mp3";
}

std::string SpeakerListAnswer(int category, std::string_view origin) {
    Json list = Json::array();
    int sort = 0;
    for (const Speaker& speaker : Speakers()) {
        if (std::find(speaker.categories.begin(), speaker.categories.end(), category) ==
            speaker.categories.end()) {
            continue;
        }
        const std::string files =
            std::string(origin) + "/files/reader/" + std::to_string(speaker.id);
        // The client cuts riSyncount and riInserttime up to the next comma: neither may be the
        // object's last member.
        list.push_back(Json{{"riId", speaker.id},
                            {"riName", speaker.name},
                            {"riPicurl", files + ".svg"},
                            {"riVoxurl", files + ".mp3"},
                            {"riParam", VoiceOf(speaker)},
                            {"riSyncount", SynthesisCount(speaker.id)},
                            {"riInserttime", InsertTime(speaker.id)},
                            {"riSort", ++sort}});
    }
    return Dump(Success(std::move(list)));
}

std::string TrackListAnswer(int category, std::string_view origin) {
    Json list = Json::array();
    for (const BackgroundTrack& track : BackgroundTracks()) {
        if (category == 0 || track.category != category) {
            continue;
        }
        // biInserttime is cut up to the object's closing brace: it must come last.
        list.push_back(Json{{"biId", track.id},
                            {"biName", track.name},
                            {"biVoxurl", TrackAddress(origin, track.id)},
                            {"biSyncount", SynthesisCount(track.id)},
                            {"biInserttime", InsertTime(track.id)}});
    }
    return Dump(Success(std::move(list)));
}

std::string CustomTrackListAnswer(int page, int pageCount, std::string_view origin) {
    std::vector<const BackgroundTrack*> custom;
    for (const BackgroundTrack& track : BackgroundTracks()) {
        if (track.category == 0) {
            custom.push_back(&track);
        }
    }
    page = std::max(page, 1);
    pageCount = std::max(pageCount, 1);
    Json list = Json::array();
    const size_t first = static_cast<size_t>(page - 1) * static_cast<size_t>(pageCount);
    for (size_t i = first; i < custom.size() && i < first + static_cast<size_t>(pageCount); ++i) {
        // "id" first (the client takes the first key ending in id), insertTime last.
        list.push_back(Json{{"id", custom[i]->id},
                            {"bgVoxName", custom[i]->name},
                            {"bgVoxUrl", TrackAddress(origin, custom[i]->id)},
                            {"insertTime", InsertTime(custom[i]->id)}});
    }
    return Dump(Success(Json{{"total", custom.size()},
                             {"page", page},
                             {"pageCount", pageCount},
                             {"list", std::move(list)}}));
}

}  // namespace dubserver
