#include "app/catalogue_choice.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <utility>

#include "app/command_line.h"
#include "app/failure_reason.h"
#include "app/json_text.h"
#include "service/service_api.h"
#include "text/code_page.h"
#include "text/utf8.h"

// Records hold GBK; everything that reaches the terminal goes through AnsiTextToUtf8 first.

namespace {

bool IsWide(long c) {
    static constexpr std::array<std::pair<long, long>, 14> kWide = {{{0x1100, 0x115F},
                                                                     {0x2E80, 0x303E},
                                                                     {0x3041, 0x33FF},
                                                                     {0x3400, 0x4DBF},
                                                                     {0x4E00, 0x9FFF},
                                                                     {0xA000, 0xA4CF},
                                                                     {0xAC00, 0xD7A3},
                                                                     {0xF900, 0xFAFF},
                                                                     {0xFE30, 0xFE4F},
                                                                     {0xFF00, 0xFF60},
                                                                     {0xFFE0, 0xFFE6},
                                                                     {0x1F300, 0x1F64F},
                                                                     {0x1F900, 0x1F9FF},
                                                                     {0x20000, 0x3FFFD}}};
    return std::any_of(kWide.begin(), kWide.end(),
                       [c](const auto& range) { return c >= range.first && c <= range.second; });
}

bool IsZeroWidth(long c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || c == 0xFE0F;
}

std::string Pad(const std::string& utf8, std::size_t width) {
    return utf8 + std::string(width - std::min(width, DisplayWidth(utf8)), ' ');
}

// Rows of UTF-8 cells; every column but the last is padded to its widest cell.
void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], DisplayWidth(row[i]));
        }
    }
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += i + 1 < row.size() ? Pad(row[i], widths[i]) + "  " : row[i];
        }
        out << line << "\n";
    }
}

// The category's number and, when the window knows it, its name.
std::string CategoryCell(int number, std::span<const char8_t* const> names) {
    const bool known = number >= 1 && static_cast<std::size_t>(number) <= names.size();
    return std::to_string(number) +
           (known ? " " + std::string(reinterpret_cast<const char*>(names[number - 1])) : "");
}

std::string UpperCase(std::string text) {
    std::ranges::transform(text, text.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// What asking for a catalogue found: the records, and why some category is missing when one is.
template <typename Record>
struct FetchedRecords {
    std::vector<Record> records;
    std::string failure;
};

// Why the category came back empty, when the exchange is to blame.
template <typename Record>
std::string DescribeFetchFailure(const CatalogueKind<Record>& kind, int number,
                                 const CatalogueExchange& exchange) {
    const std::string service = "the service at " + ServiceOrigin();
    const std::string which = std::string(kind.records) + " of " + kind.category + " " +
                              CategoryCell(number, kind.categoryNames);
    if (exchange.error.kind != HttpError::Kind::None) {
        return "the " + which + " could not be fetched from " + service + ": " +
               DescribeTransportFailure(exchange.error) + " (" + exchange.error.message + ")";
    }
    if (exchange.status == 401 && kind.carriesToken) {
        return service + " refused the catalogue token (HTTP 401 for the " + which +
               "); give the right one with --catalogue-token or " + kCatalogueTokenVariable;
    }
    return service + " answered the request for the " + which + " with HTTP status " +
           std::to_string(exchange.status);
}

// The records of the category, or of every category in order. A category whose exchange failed
// is left out and named; once the service could not be reached, no further category is asked
// for (each would wait out the same limits).
template <typename Record>
FetchedRecords<Record> FetchRecords(const CatalogueKind<Record>& kind,
                                    std::optional<int> category) {
    const int last = category.value_or(static_cast<int>(kind.categoryNames.size()));
    FetchedRecords<Record> fetched;
    for (int number = category.value_or(1); number <= last; ++number) {
        std::vector<Record> records;
        CatalogueExchange exchange;
        kind.fetch(records, number, &exchange);
        fetched.records.insert(fetched.records.end(), records.begin(), records.end());
        const bool failed = exchange.error.kind != HttpError::Kind::None || exchange.status != 200;
        if (records.empty() && failed && fetched.failure.empty()) {
            fetched.failure = DescribeFetchFailure(kind, number, exchange);
        }
        if (records.empty() && exchange.error.kind != HttpError::Kind::None) {
            break;
        }
    }
    return fetched;
}

template <typename Record>
std::string ListedNothing(const CatalogueKind<Record>& kind, std::optional<int> category) {
    return "the service at " + ServiceOrigin() + " listed no " + kind.records +
           (category ? " of " + std::string(kind.category) + " " + std::to_string(*category)
                     : std::string());
}

}  // namespace

template <typename Record>
std::string PrintCatalogue(std::ostream& out, const CatalogueKind<Record>& kind,
                           std::optional<int> category, CatalogueFormat format) {
    const FetchedRecords<Record> fetched = FetchRecords(kind, category);
    if (format == CatalogueFormat::Json) {
        out << "[";
        const char* separator = "\n";
        for (const Record& record : fetched.records) {
            const bool known = record.category >= 1 && static_cast<std::size_t>(record.category) <=
                                                           kind.categoryNames.size();
            out << separator << "  {\"id\": " << JsonStringFromUtf8(AnsiTextToUtf8(record.id))
                << ", \"name\": " << JsonStringFromUtf8(AnsiTextToUtf8(record.name)) << ", \""
                << kind.jsonCategory << "\": " << record.category << ", \"typeName\": "
                << JsonStringFromUtf8(
                       known
                           ? reinterpret_cast<const char*>(
                                 kind.categoryNames[static_cast<std::size_t>(record.category - 1)])
                           : "")
                << ", \"" << kind.jsonAddress
                << "\": " << JsonStringFromUtf8(AnsiTextToUtf8(record.voxUrl)) << "}";
            separator = ",\n";
        }
        out << (fetched.records.empty() ? "]\n" : "\n]\n");
    } else if (!fetched.records.empty()) {
        std::vector<std::vector<std::string>> rows = {{"ID", UpperCase(kind.category), "NAME"}};
        for (const Record& record : fetched.records) {
            rows.push_back({TerminalSafe(AnsiTextToUtf8(record.id)),
                            CategoryCell(record.category, kind.categoryNames),
                            TerminalSafe(AnsiTextToUtf8(record.name))});
        }
        PrintTable(out, rows);
    }
    if (!fetched.failure.empty()) {
        return fetched.failure;
    }
    return fetched.records.empty() ? ListedNothing(kind, category) : std::string();
}

template <typename Record>
CatalogueChoice<Record> ChooseFromCatalogue(const CatalogueKind<Record>& kind,
                                            const std::optional<std::string>& id,
                                            std::optional<int> category) {
    if (!id) {
        if (!kind.firstIsDefault) {
            return {};
        }
        const int number = category.value_or(1);
        const FetchedRecords<Record> fetched = FetchRecords(kind, number);
        if (fetched.records.empty()) {
            return {
                .status = 1,
                .error = fetched.failure.empty() ? ListedNothing(kind, number) : fetched.failure};
        }
        return {.record = fetched.records.front()};
    }
    const FetchedRecords<Record> fetched = FetchRecords(kind, category);
    const auto found = std::ranges::find(fetched.records, Utf8TextToAnsi(*id), &Record::id);
    if (found != fetched.records.end()) {
        return {.record = *found};
    }
    // Names are compared in UTF-8: the GBK a name converts to is not unique.
    std::vector<const Record*> named;
    for (const Record& record : fetched.records) {
        if (AnsiTextToUtf8(record.name) == *id &&
            std::ranges::none_of(named, [&](const Record* r) { return r->id == record.id; })) {
            named.push_back(&record);
        }
    }
    if (named.size() == 1) {
        return {.record = *named.front()};
    }
    if (named.size() > 1) {
        std::string matches;
        for (const Record* record : named) {
            matches += (matches.empty() ? "" : ", ") + TerminalSafe(AnsiTextToUtf8(record->id)) +
                       " (" + kind.category + " " +
                       CategoryCell(record->category, kind.categoryNames) + ")";
        }
        return {.status = 2,
                .error = std::string(kind.records) + " share the name \"" + TerminalSafe(*id) +
                         "\": " + matches + "; give the id instead"};
    }
    // The id may be in what could not be fetched.
    if (!fetched.failure.empty()) {
        return {.status = 1, .error = fetched.failure};
    }
    if (fetched.records.empty()) {
        return {.status = 1, .error = ListedNothing(kind, category)};
    }
    return {
        .status = 2,
        .error = "unknown " + std::string(kind.record) + " \"" + TerminalSafe(*id) + "\"" +
                 (category ? " in " + std::string(kind.category) + " " + std::to_string(*category)
                           : std::string()) +
                 "; 'dubdesk synthesize " + kind.listOption + "' shows the valid ones"};
}

template std::string PrintCatalogue(std::ostream&, const CatalogueKind<SpeakerRecord>&,
                                    std::optional<int>, CatalogueFormat);
template std::string PrintCatalogue(std::ostream&, const CatalogueKind<BackgroundRecord>&,
                                    std::optional<int>, CatalogueFormat);
template CatalogueChoice<SpeakerRecord> ChooseFromCatalogue(const CatalogueKind<SpeakerRecord>&,
                                                            const std::optional<std::string>&,
                                                            std::optional<int>);
template CatalogueChoice<BackgroundRecord> ChooseFromCatalogue(
    const CatalogueKind<BackgroundRecord>&, const std::optional<std::string>&, std::optional<int>);

std::size_t DisplayWidth(const std::string& utf8) {
    std::size_t width = 0;
    for (std::size_t pos = 0; pos < utf8.size();) {
        const auto [value, length] = NextUtf8Character(utf8, pos);
        pos += length;
        width += IsZeroWidth(value) ? 0 : IsWide(value) ? 2 : 1;
    }
    return width;
}

std::string TerminalSafe(const std::string& utf8) {
    const auto escaped = [](const char* prefix, int digits, long value) {
        std::ostringstream shown;
        shown << prefix << std::hex << std::uppercase << std::setw(digits) << std::setfill('0')
              << value;
        return shown.str();
    };
    std::string safe;
    safe.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) {
        const auto [value, length] = NextUtf8Character(utf8, pos);
        if (value < 0) {
            safe += escaped("\\x", 2, static_cast<unsigned char>(utf8[pos]));
        } else if (value < 0x20 || value == 0x7F) {
            safe += escaped("\\x", 2, value);
        } else if ((value >= 0x80 && value <= 0x9F) || (value >= 0x202A && value <= 0x202E) ||
                   (value >= 0x2066 && value <= 0x2069)) {
            safe += escaped("\\u", 4, value);
        } else {
            safe.append(utf8, pos, length);
        }
        pos += length;
    }
    return safe;
}
