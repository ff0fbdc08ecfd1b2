#include "app/catalogue_choice.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <ostream>
#include <utility>

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

// The records of the category, or of every category in order.
template <typename Record>
std::vector<Record> FetchRecords(const CatalogueKind<Record>& kind, std::optional<int> category) {
    const int last = category.value_or(static_cast<int>(kind.categoryNames.size()));
    std::vector<Record> all;
    for (int number = category.value_or(1); number <= last; ++number) {
        std::vector<Record> records;
        kind.fetch(records, number);
        all.insert(all.end(), records.begin(), records.end());
    }
    return all;
}

}  // namespace

template <typename Record>
bool PrintCatalogue(std::ostream& out, const CatalogueKind<Record>& kind,
                    std::optional<int> category) {
    const std::vector<Record> records = FetchRecords(kind, category);
    std::vector<std::vector<std::string>> rows = {{"ID", UpperCase(kind.category), "NAME"}};
    for (const Record& record : records) {
        rows.push_back({AnsiTextToUtf8(record.id),
                        CategoryCell(record.category, kind.categoryNames),
                        AnsiTextToUtf8(record.name)});
    }
    PrintTable(out, rows);
    return !records.empty();
}

template <typename Record>
CatalogueChoice<Record> ChooseFromCatalogue(const CatalogueKind<Record>& kind,
                                            const std::optional<std::string>& id,
                                            std::optional<int> category) {
    const std::string service = "the service at " + ServiceOrigin();
    if (!id) {
        if (!kind.firstIsDefault) {
            return {};
        }
        const int number = category.value_or(1);
        const std::vector<Record> records = FetchRecords(kind, number);
        if (records.empty()) {
            return {.status = 1,
                    .error = service + " listed no " + kind.records + " of " + kind.category + " " +
                             std::to_string(number) + " (is it running?)"};
        }
        return {.record = records.front()};
    }
    const std::vector<Record> records = FetchRecords(kind, category);
    const auto found = std::ranges::find(records, Utf8TextToAnsi(*id), &Record::id);
    if (found != records.end()) {
        return {.record = *found};
    }
    if (records.empty()) {
        return {.status = 1, .error = service + " listed no " + kind.records + " (is it running?)"};
    }
    return {
        .status = 2,
        .error = "unknown " + std::string(kind.record) + " \"" + *id + "\"" +
                 (category ? " in " + std::string(kind.category) + " " + std::to_string(*category)
                           : std::string()) +
                 "; 'dubdesk synthesize " + kind.listOption + "' shows the valid ones"};
}

template bool PrintCatalogue(std::ostream&, const CatalogueKind<SpeakerRecord>&,
                             std::optional<int>);
template bool PrintCatalogue(std::ostream&, const CatalogueKind<BackgroundRecord>&,
                             std::optional<int>);
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
