#pragma once
// The catalogues as dubdesk synthesize shows them and picks from them: tables of speakers or
// background tracks for a terminal, and the record a job uses. One set of routines serves both
// record types; a CatalogueKind holds what differs between them.

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "service/catalogue.h"
#include "window/list_items.h"

template <typename Record>
struct CatalogueKind {
    const char* record;    // what one is called in messages
    const char* records;   // and several
    const char* category;  // what a category is called; its upper case heads the table column
    std::span<const char8_t* const> categoryNames;  // the window's list: category 1 first
    int (*fetch)(std::vector<Record>& records, int category, CatalogueExchange* exchange);
    const char* listOption;  // the option that prints the table
    // Without an id, the first record of the category (category 1 if none is given) is chosen;
    // otherwise none is.
    bool firstIsDefault;
    // Whether the requests carry the catalogue token, so that a 401 means it was refused.
    bool carriesToken;
    // The keys of a JSON listing: the category's number, and the record's audio address.
    const char* jsonCategory;
    const char* jsonAddress;
};

inline constexpr CatalogueKind<SpeakerRecord> kSpeakerKind{
    .record = "speaker",
    .records = "speakers",
    .category = "voice type",
    .categoryNames = kVoiceTypeItems,
    .fetch = FetchSpeakerCategory,
    .listOption = "--list-speakers",
    .firstIsDefault = true,
    .carriesToken = false,
    .jsonCategory = "voiceType",
    .jsonAddress = "sample",
};

inline constexpr CatalogueKind<BackgroundRecord> kBackgroundKind{
    .record = "background track",
    .records = "background tracks",
    .category = "background type",
    .categoryNames = kBackgroundTypeItems,
    .fetch = FetchBackgroundList,
    .listOption = "--list-backgrounds",
    .firstIsDefault = false,
    .carriesToken = true,
    .jsonCategory = "backgroundType",
    .jsonAddress = "track",
};

enum class CatalogueFormat {
    Table,  // columns ID, category and NAME for a terminal; nothing when there are none
    // one JSON array for scripts (UTF-8, "[]" when there are none), an object per record:
    // {"id", "name", the kind's jsonCategory (a number), "typeName", the kind's jsonAddress}
    Json,
};

// Prints the records of the category, or of every category. Empty when all went well, else
// why the list is empty or incomplete: the service could not be reached, refused the token,
// answered with an error status, or listed nothing.
template <typename Record>
std::string PrintCatalogue(std::ostream& out, const CatalogueKind<Record>& kind,
                           std::optional<int> category,
                           CatalogueFormat format = CatalogueFormat::Table);

// The record a job uses, or why there is none: status 1 when the service could not be asked or
// listed nothing (error names the cause), 2 when the id or name is not among what it listed or
// the name belongs to several records (error lists them with their ids).
template <typename Record>
struct CatalogueChoice {
    std::optional<Record> record{};  // absent with status 0: none wanted
    int status = 0;
    std::string error{};
};

// id as the user typed it (UTF-8): an id, or else a name compared with the records' names in
// UTF-8; looked for in the category or, without one, in every category (a record listed in
// several categories counts once). Absent, the kind's default.
template <typename Record>
CatalogueChoice<Record> ChooseFromCatalogue(const CatalogueKind<Record>& kind,
                                            const std::optional<std::string>& id,
                                            std::optional<int> category);

// Columns a UTF-8 text takes on a terminal: East Asian wide characters count two.
std::size_t DisplayWidth(const std::string& utf8);

// A UTF-8 text from the service made harmless for a terminal: control characters (C0, DEL,
// C1), the bidirectional overrides and bytes that are no UTF-8 are shown as escapes ("\x1B",
// "\u202E"); everything else stays as it is.
std::string TerminalSafe(const std::string& utf8);
