#include <sys/stat.h>

#include <map>

#include "core/Utilities.h"
#include "core/hmd/HmdSources.h"
#include "core/hmd/HostMetaDataQueries.h"

namespace KvoCore {

namespace {

using Stanza = std::map<std::string, std::string>;

// The stanzas of the dpkg status file, each field's first line only.
std::vector<Stanza> ParseStatus(const std::string& content) {
    std::vector<Stanza> stanzas(1);
    for (const std::string& line : SplitLines(content)) {
        if (line.empty()) {
            if (!stanzas.back().empty()) stanzas.emplace_back();
            continue;
        }
        size_t colon = line.find(':');
        if (line[0] == ' ' || line[0] == '\t' || colon == std::string::npos) continue;
        size_t value = line.find_first_not_of(' ', colon + 1);
        stanzas.back()[line.substr(0, colon)] = value == std::string::npos ? std::string() : line.substr(value);
    }
    if (stanzas.back().empty()) stanzas.pop_back();
    return stanzas;
}

std::string Field(const Stanza& stanza, const char* name) {
    auto found = stanza.find(name);
    return found == stanza.end() ? std::string() : found->second;
}

// dpkg is always of the native architecture.
std::string NativeArchitecture(const std::vector<Stanza>& stanzas) {
    for (const Stanza& stanza : stanzas)
        if (Field(stanza, "Package") == "dpkg") return Field(stanza, "Architecture");
    return std::string();
}

// As dpkg's ${binary:Package}: qualified when another architecture could
// hold the same name, i.e. Multi-Arch: same or a foreign architecture.
std::string PackageKey(const Stanza& stanza, const std::string& native) {
    std::string name = Field(stanza, "Package"), arch = Field(stanza, "Architecture");
    if (arch.empty() || arch == "all") return name;
    if (Field(stanza, "Multi-Arch") == "same" || (!native.empty() && arch != native)) return name + ":" + arch;
    return name;
}

void AppendInstalledDate(CHostMetaData& object, const std::string& key, const std::string& name) {
    struct stat status;
    for (const std::string& stem : {key, name}) {
        std::string path = "/var/lib/dpkg/info/" + stem + ".list";
        if (stat(path.c_str(), &status) == 0) {
            object.AppendAttribute("installedDate", IsoInstant(status.st_mtime));
            return;
        }
    }
}

void AppendPackage(CHostMetaData& object, const Stanza& stanza, const std::string& key) {
    std::string name = Field(stanza, "Package");
    object.AppendAttribute("name", BytesToText(name));
    for (const auto& [attribute, field] : {std::make_pair("version", "Version"), std::make_pair("manufacturer", "Maintainer")})
        if (stanza.count(field)) object.AppendAttribute(attribute, BytesToText(Field(stanza, field)));
    long long kib;
    if (ParseDecimal(Field(stanza, "Installed-Size"), kib)) object.AppendAttribute("size", toDecimalString(kib * 1024));
    AppendInstalledDate(object, key, name);
    // "Source: name (version)" when the source's version differs from the binary's.
    std::string source = Field(stanza, "Source");
    source = source.substr(0, source.find(' '));
    object.AppendAttribute("parent", BytesToText(source.empty() ? name : source));
}

}  // namespace

bool GetHmdInstalledSoftware(CHostMetaDataQueryResult& result, int /*flags*/, const wxString& /*format*/) {
    result.Clear();
    std::string content;
    if (!ReadWholeFile("/var/lib/dpkg/status", content)) return false;
    std::vector<Stanza> stanzas = ParseStatus(content);
    const std::string native = NativeArchitecture(stanzas);
    for (const Stanza& stanza : stanzas) {
        if (Field(stanza, "Status") != "install ok installed" || Field(stanza, "Package").empty()) continue;
        std::string key = PackageKey(stanza, native);
        auto object = std::make_unique<CHostMetaData>("InstalledSoftware", BytesToText(key));
        AppendPackage(*object, stanza, key);
        result.Add(std::move(object));
    }
    result.SortByKey();
    return true;
}

}  // namespace KvoCore
