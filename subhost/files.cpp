// Files and string lists of the substitute host: finding, splitting, joining
// and copying file names on the real file system; string lists with their
// information fields.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "subhost/safefile.h"
#include "subhost/state.h"

namespace subhost {
namespace {

namespace fs = std::filesystem;

bool isFile(const std::string& path) {
    std::error_code ec;
    const auto status = fs::status(path, ec);
    return !ec && fs::exists(status) && !fs::is_directory(status);
}

std::vector<std::string> splitPath(const std::string& list) {
    std::vector<std::string> dirs;
    std::string current;
    for (char c : list) {
        if (c == ';' || c == ':') {
            if (!current.empty()) dirs.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) dirs.push_back(current);
    return dirs;
}

std::string joinDir(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

StringList* validList(StringList* list) {
    auto& lists = host().misc.stringLists;
    return list && lists.count(list) ? list : nullptr;
}

}  // namespace
}  // namespace subhost

using namespace subhost;

extern "C" {

int mdlFile_find(WCharP expandedName, WCharCP file, WCharCP envVar, WCharCP defaultExt) {
    if (expandedName) expandedName[0] = 0;
    std::string name = narrow(file);
    if (name.empty()) return ERROR;
    const std::string ext = narrow(defaultExt);
    if (!ext.empty() && fs::path(name).extension().empty()) name += ext.front() == '.' ? ext : "." + ext;
    std::vector<std::string> candidates;
    if (name.front() == '/') {
        candidates.push_back(name);
    } else {
        if (envVar && *envVar) {
            std::wstring value(MAX_CFGVAR_LENGTH, L'\0');
            if (mdlSystem_getCfgVar(value.data(), envVar, MAX_CFGVAR_LENGTH) == SUCCESS)
                for (const auto& dir : splitPath(narrow(value.c_str()))) candidates.push_back(joinDir(dir, name));
        }
        candidates.push_back(name);
    }
    for (const auto& candidate : candidates) {
        if (!isFile(candidate)) continue;
        std::error_code ec;
        const auto full = fs::absolute(candidate, ec);
        copyWide(expandedName, MAXFILELENGTH, widen(ec ? candidate : full.lexically_normal().string()));
        return SUCCESS;
    }
    return hostFail(HOSTERR_FileNotFound);
}

int mdlFile_parseName(WCharCP fileName, WCharP device, WCharP directory, WCharP name, WCharP extension) {
    const std::wstring path = fileName ? fileName : L"";
    // This platform has no devices; the directory keeps its trailing separator and
    // the extension comes without its dot.
    const auto slash = path.rfind(L'/');
    const std::wstring dir = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
    const std::wstring base = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const auto dot = base.rfind(L'.');
    const bool hasExt = dot != std::wstring::npos && dot > 0;
    copyWide(device, MAXDEVICELENGTH, L"");
    copyWide(directory, MAXDIRLENGTH, dir);
    copyWide(name, MAXNAMELENGTH, hasExt ? base.substr(0, dot) : base);
    copyWide(extension, MAXEXTENSIONLENGTH, hasExt ? base.substr(dot + 1) : L"");
    return fileName ? SUCCESS : ERROR;
}

int mdlFile_buildName(WCharP fileName, WCharCP device, WCharCP directory, WCharCP name, WCharCP extension) {
    std::wstring path = device ? device : L"";
    const std::wstring dir = directory ? directory : L"";
    path += dir;
    const std::wstring base = name ? name : L"";
    if (!dir.empty() && dir.back() != L'/' && !base.empty()) path += L'/';
    path += base;
    const std::wstring ext = extension ? extension : L"";
    if (!ext.empty()) path += (ext.front() == L'.' ? L"" : L".") + ext;
    copyWide(fileName, MAXFILELENGTH, path);
    return static_cast<int>(path.size()) < MAXFILELENGTH ? SUCCESS : ERROR;
}

int mdlFile_copy(WCharCP destination, WCharCP source) {
    const std::string to = narrow(destination);
    const std::string from = narrow(source);
    if (to.empty() || from.empty() || !isFile(from)) return ERROR;
    // Copy into an exclusive temporary beside the destination first, so that a failed copy leaves
    // it untouched and nothing planted at a temporary name is followed.
    std::string problem;
    auto temp = safefile::TempFile::create(to, &problem);
    std::error_code ec;
    if (temp) fs::copy_file(from, temp->path(), fs::copy_options::overwrite_existing, ec);
    if (!temp || ec || !temp->commit(&problem)) return hostFail(HOSTERR_FileCopy);
    return SUCCESS;
}

StringList* mdlStringList_create(long nStrings, int infoFields) {
    if (nStrings < 0 || nStrings > 1000000 || infoFields < 0 || infoFields > 64) return nullptr;
    auto list = std::make_unique<StringList>();
    list->infoFields = infoFields;
    list->members.resize(static_cast<std::size_t>(nStrings));
    for (auto& m : list->members) m.info.assign(static_cast<std::size_t>(infoFields), 0);
    StringList* raw = list.get();
    host().misc.stringLists[raw] = std::move(list);
    return raw;
}

StringList* mdlStringList_loadResource(RscFileHandle /*rsc*/, int id) {
    const auto* file = host().app.resources;
    if (!file) return nullptr;
    for (const auto& rscList : file->stringLists) {
        if (rscList.id != id) continue;
        const int fields = std::max(0, std::min(rscList.infoFields, 4));
        StringList* list = mdlStringList_create(static_cast<long>(rscList.members.size()), rscList.infoFields);
        if (!list) return nullptr;
        for (std::size_t i = 0; i < rscList.members.size(); ++i) {
            list->members[i].text = widen(rscList.members[i].text);
            for (int f = 0; f < fields; ++f) list->members[i].info[f] = rscList.members[i].info[f];
        }
        return list;
    }
    return nullptr;
}

void mdlStringList_destroy(StringList* list) {
    if (validList(list)) host().misc.stringLists.erase(list);
}

long mdlStringList_size(StringList* list) { return validList(list) ? static_cast<long>(list->members.size()) : 0; }

int mdlStringList_getMember(WCharCP* text, InfoField** info, StringList* list, long index) {
    if (!validList(list) || index < 0 || index >= static_cast<long>(list->members.size())) return ERROR;
    auto& member = list->members[static_cast<std::size_t>(index)];
    if (text) *text = member.text.c_str();
    if (info) *info = member.info.empty() ? nullptr : member.info.data();
    return SUCCESS;
}

int mdlStringList_setMember(StringList* list, long index, WCharCP text, const InfoField* info) {
    if (!validList(list) || index < 0 || index >= static_cast<long>(list->members.size())) return ERROR;
    auto& member = list->members[static_cast<std::size_t>(index)];
    if (text) member.text = text;
    if (info) std::copy(info, info + list->infoFields, member.info.begin());
    return SUCCESS;
}

long mdlStringList_insertMember(StringList* list, long index, WCharCP text) {
    if (!validList(list)) return -1;
    const long size = static_cast<long>(list->members.size());
    if (index < 0 || index > size) index = size;
    StringList::Member member;
    member.text = text ? text : L"";
    member.info.assign(static_cast<std::size_t>(list->infoFields), 0);
    list->members.insert(list->members.begin() + index, std::move(member));
    return index;
}

int mdlStringList_deleteAll(StringList* list) {
    if (!validList(list)) return ERROR;
    list->members.clear();
    return SUCCESS;
}

}  // extern "C"
