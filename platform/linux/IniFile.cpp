#include "platform/linux/IniFile.h"

#include <memory>

#include "base/Conversions.h"
#include "base/StringKeyValueParser.h"
#include "base/StringReader.h"
#include "platform/FileSystem.h"
#include "platform/System.h"

namespace {

constexpr char kLineEnd[] = "\r\n";

// Calls action(item) for every item of a value list.
template <typename Action>
void ForEachListItem(const std::string& value, Action action) {
    TPlainStringParser parser(value);
    for (std::string item = parser.GetFirstValueFromList(); !item.empty();
         item = parser.GetNextValueFromList()) {
        action(item);
    }
}

}  // namespace

TIniFile::TIniFile(const char* name) : m_fileName(name != nullptr ? name : "") {
    LoadData();
}

void TIniFile::LoadData() {
    IFileSystem* fileSystem = ISystem::Instance()->GetDefaultFileSystem();
    const std::unique_ptr<IFileReadable> file(fileSystem->OpenForRead(m_fileName.c_str()));
    if (file) {
        m_contents.ReadFromFile(*file);
        // Editors that mark UTF-8 text put these bytes in front of the first key.
        static const T_BinaryData kByteOrderMark(std::string("\xEF\xBB\xBF"));
        if (m_contents.Copy(0, kByteOrderMark.Length()) == kByteOrderMark) {
            m_contents = m_contents.Copy(kByteOrderMark.Length(), T_BinaryData::kToEnd);
        }
    }
}

std::optional<std::string> TIniFile::FindValue(const std::string& section,
                                               const std::string& key) const {
    TStringReader reader(m_contents, false, T_BinaryData::kToEnd);
    bool selected = section.empty();
    std::string line;
    while (reader.GetNextString(line)) {
        TStringKeyValueParser parser(line);
        if (parser.IsSectionName()) {
            selected = parser.IsSectionNameMatched(section);
        } else if (selected && parser.IsKeyMatched(key)) {
            return parser.GetValue();
        }
    }
    return std::nullopt;
}

std::string TIniFile::GetSectionString(const std::string& section, const std::string& key,
                                       const std::string& defaultValue) const {
    return FindValue(section, key).value_or(defaultValue);
}

std::optional<std::string> TIniFile::FindString(const std::string& key) const {
    return FindValue("", key);
}

std::string TIniFile::GetString(const std::string& key, const std::string& defaultValue) const {
    return GetSectionString("", key, defaultValue);
}

unsigned long TIniFile::GetInteger(const std::string& key, unsigned long defaultValue) const {
    const std::optional<std::string> value = FindValue("", key);
    return value ? static_cast<unsigned long>(IntFromStdString(*value)) : defaultValue;
}

std::vector<unsigned short> TIniFile::GetIntegerList(const std::string& key) const {
    std::vector<unsigned short> list;
    ForEachListItem(GetString(key, ""), [&list](const std::string& item) {
        list.push_back(static_cast<unsigned short>(IntFromStdString(item)));
    });
    return list;
}

std::vector<std::string> TIniFile::GetStringList(const std::string& key) const {
    std::vector<std::string> list;
    ForEachListItem(GetString(key, ""), [&list](const std::string& item) { list.push_back(item); });
    return list;
}

void TIniFile::SetString(const std::string& key, const std::string& value) {
    // A line end inside the key or value would split the entry into lines
    // that read back as something else.
    if ((key + value).find_first_of(kLineEnd) != std::string::npos) {
        return;
    }
    const std::string entry = key + "=" + value;
    std::string text;
    bool found = false;
    TStringReader reader(m_contents, false, T_BinaryData::kToEnd);
    std::string line;
    while (reader.GetNextString(line)) {
        if (!found) {
            TStringKeyValueParser parser(line);
            if (parser.IsKeyMatched(key)) {
                if (parser.GetValue() == value) {
                    return;
                }
                found = true;
                line = entry;
            }
        }
        text += line + kLineEnd;
    }
    if (!found) {
        text += entry + kLineEnd;
    }
    m_contents = text;

    IFileSystem* fileSystem = ISystem::Instance()->GetDefaultFileSystem();
    const std::unique_ptr<IFileWritable> file(fileSystem->OpenForWrite(
        m_fileName.c_str(), FILE_MODE_CREATE | FILE_MODE_TRUNCATE | FILE_MODE_READ_WRITE));
    if (file) {
        m_contents.SaveToFile(*file);
    }
}
