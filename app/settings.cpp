#include "app/settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include "app/command_line.h"
#include "service/service_api.h"

namespace {

constexpr const char* kOriginKey = "service/origin";
constexpr const char* kTokenKey = "service/catalogue-token";
constexpr const char* kFolderKey = "save-dialog/folder";

// The value of a key as text; absent and a problem noted when it is not one plain text (an INI
// list such as "a, b" reads as several).
std::optional<std::string> TextValue(const QSettings& settings, const char* key,
                                     std::vector<std::string>& problems) {
    const QVariant value = settings.value(QString::fromLatin1(key));
    if (value.typeId() != QMetaType::QString) {
        problems.push_back(std::string(key) + ": not a single text value; ignored");
        return std::nullopt;
    }
    return value.toString().toStdString();
}

// The service values are checked like their command-line options.
std::optional<std::string> ServiceValue(const QSettings& settings, const char* key,
                                        const char* option, std::vector<std::string>& problems) {
    std::optional<std::string> value = TextValue(settings, key, problems);
    if (!value) {
        return std::nullopt;
    }
    if (const std::string error = ServiceOptionError(option, *value); !error.empty()) {
        problems.push_back(std::string(key) + ": " + error + "; ignored");
        return std::nullopt;
    }
    return value;
}

// QSettings passes over lines it cannot read without a word; each is named here instead.
void ReportUnreadableLines(const QString& path, std::vector<std::string>& problems) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++number;
        const bool readable = line.isEmpty() || line.startsWith(';') || line.startsWith('#') ||
                              (line.startsWith('[') && line.endsWith(']')) ||
                              (line.indexOf('=') > 0);
        if (!readable) {
            problems.push_back("line " + std::to_string(number) + ": not a setting; ignored");
        }
    }
}

}  // namespace

std::string SettingsFilePath() {
    return QFile::encodeName(
               QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/dubdesk/dubdesk.conf"))
        .toStdString();
}

FileSettings ReadSettingsFile() {
    FileSettings read;
    const QString path = QFile::decodeName(QByteArray::fromStdString(SettingsFilePath()));
    if (!QFile::exists(path)) {
        return read;
    }
    const QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        read.problems.push_back("cannot be read (" +
                                std::string(settings.status() == QSettings::FormatError
                                                ? "not an INI file"
                                                : "no access") +
                                "); every setting keeps its default");
        return read;
    }
    ReportUnreadableLines(path, read.problems);
    for (const QString& key : settings.allKeys()) {
        const std::string name = key.toStdString();
        if (name != kOriginKey && name != kTokenKey && name != kFolderKey) {
            read.problems.push_back(name + ": unknown setting; ignored");
        }
    }
    if (settings.contains(QString::fromLatin1(kOriginKey))) {
        read.serviceOrigin = ServiceValue(settings, kOriginKey, "--service-origin", read.problems);
    }
    if (settings.contains(QString::fromLatin1(kTokenKey))) {
        read.catalogueToken = ServiceValue(settings, kTokenKey, "--catalogue-token", read.problems);
    }
    if (settings.contains(QString::fromLatin1(kFolderKey))) {
        if (std::optional<std::string> folder = TextValue(settings, kFolderKey, read.problems)) {
            read.saveFolder = QFile::encodeName(QString::fromStdString(*folder)).toStdString();
        }
    }
    return read;
}

bool StoreSaveFolder(const std::string& folder) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(SettingsFilePath()));
    QSettings settings(path, QSettings::IniFormat);
    // A file QSettings cannot parse is left alone rather than rewritten without its contents.
    if (settings.status() != QSettings::NoError) {
        return false;
    }
    settings.setValue(QString::fromLatin1(kFolderKey),
                      QFile::decodeName(QByteArray::fromStdString(folder)));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

std::string DefaultSaveFolder() {
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    const QString folder = !music.isEmpty() && QDir(music).exists() ? music : QDir::homePath();
    return QFile::encodeName(folder).toStdString();
}

void ConfigureService(const FileSettings& file, const std::optional<std::string>& environmentToken,
                      const std::optional<std::string>& originOption,
                      const std::optional<std::string>& tokenOption) {
    SetServiceOrigin(originOption.value_or(file.serviceOrigin.value_or("")));
    SetCatalogueAccessToken(
        tokenOption.value_or(environmentToken.value_or(file.catalogueToken.value_or(""))));
}
