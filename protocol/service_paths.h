#pragma once
// The paths and query parameters of the dubbing service. The client builds its addresses from
// them and the local server routes by them, so the two cannot drift apart. ASCII only.

// Speakers of one category: kReaderInfoPath + the category's number ("readerInfo/12").
inline constexpr char kReaderInfoPath[] = "/pc/api/reader/readerInfo/";
// Background tracks of one category: kBgVoxInfoPath + the category's number.
inline constexpr char kBgVoxInfoPath[] = "/pc/api/bgVox/bgVoxInfo/";
// The user's own background tracks, a page at a time.
inline constexpr char kCustomBgVoxListPath[] = "/pc/api/customBgVoxList";
inline constexpr char kPageParameter[] = "page";
inline constexpr char kPageCountParameter[] = "pageCount";

// The synthesis endpoints: kSynVoxPath + the endpoint's name.
inline constexpr char kSynVoxPath[] = "/pc/api/synVox/";
inline constexpr char kSpeechSynthEndpoint[] = "speechSynth";
inline constexpr char kQueryProcessEndpoint[] = "queryProcess";
inline constexpr char kQuerySynthTingResultEndpoint[] = "querySynthTingResult";
inline constexpr char kRecordExportEndpoint[] = "recordExport";
inline constexpr char kQuerySynthResultEndpoint[] = "querySynthResult";
// The job every follow-up request is about: the serial number the submit answered.
inline constexpr char kSerialIdParameter[] = "serialId";
