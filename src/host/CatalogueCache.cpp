#include "host/CatalogueCache.h"

#include <fstream>
#include <iterator>
#include <set>
#include <system_error>

#include "host/CatalogueFiles.h"

using nlohmann::json;

namespace {

// Raised whenever the file's layout changes; a file of another format is
// set aside like a damaged one.
constexpr int fileFormat = 1;

std::filesystem::path withSuffix(const std::filesystem::path& file, const char* suffix) {
    std::filesystem::path named = file;
    named += suffix;
    return named;
}

}  // namespace

std::optional<CatalogueCache::Stamp> CatalogueCache::stampOf(const std::string& path) {
    std::error_code error;
    const std::filesystem::path file = std::filesystem::u8path(path);
    if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
    Stamp stamp;
    stamp.size = std::filesystem::file_size(file, error);
    if (error) return std::nullopt;
    const auto modified = std::filesystem::last_write_time(file, error);
    if (error) return std::nullopt;
    stamp.modified = static_cast<int64_t>(modified.time_since_epoch().count());
    return stamp;
}

void CatalogueCache::load() {
    modules.clear();
    dirty = false;
    if (file.empty()) return;
    std::ifstream in(file, std::ios::binary);
    if (!in) return;  // none yet
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();

    const json document = json::parse(text, nullptr, false);
    bool whole = document.is_object() && document.value("format", 0) == fileFormat &&
                 document.contains("modules") && document["modules"].is_array();
    if (whole) {
        for (const json& module : document["modules"]) {
            whole = module.is_object() && module.contains("path") && module["path"].is_string() &&
                    module.contains("size") && module["size"].is_number_unsigned() &&
                    module.contains("modified") && module["modified"].is_number_integer() &&
                    module.contains("entries") && module["entries"].is_array();
            if (!whole) break;
            Module& kept = modules[module["path"].get<std::string>()];
            kept.stamp = {module["size"].get<uint64_t>(), module["modified"].get<int64_t>()};
            for (const json& object : module["entries"]) {
                std::optional<CatalogueEntry> entry = entryFromJson(object);
                if (!entry) {
                    whole = false;
                    break;
                }
                kept.entries.push_back(std::move(*entry));
            }
            if (!whole) break;
        }
    }
    if (whole) return;
    // Kept for whoever wants to know what broke it; the next save rebuilds it.
    modules.clear();
    replaceFile(file, withSuffix(file, ".damaged"));
    dirty = true;
}

const std::vector<CatalogueEntry>* CatalogueCache::find(const std::string& path,
                                                        const Stamp& stamp) const {
    const auto found = modules.find(path);
    if (found == modules.end() || !(found->second.stamp == stamp)) return nullptr;
    return &found->second.entries;
}

void CatalogueCache::store(const std::string& path, const Stamp& stamp,
                           std::vector<CatalogueEntry> entries) {
    modules[path] = {stamp, std::move(entries)};
    dirty = true;
}

void CatalogueCache::forgetStale(const std::vector<std::string>& keep) {
    const std::set<std::string> kept(keep.begin(), keep.end());
    for (auto module = modules.begin(); module != modules.end();) {
        const std::optional<Stamp> now =
            kept.count(module->first) ? module->second.stamp : stampOf(module->first);
        if (now && *now == module->second.stamp) {
            ++module;
            continue;
        }
        module = modules.erase(module);
        dirty = true;
    }
}

bool CatalogueCache::save() {
    if (file.empty()) return false;
    json list = json::array();
    for (const auto& [path, module] : modules) {
        json entries = json::array();
        for (const CatalogueEntry& entry : module.entries) entries.push_back(toJson(entry));
        list.push_back({{"path", path},
                        {"size", module.stamp.size},
                        {"modified", module.stamp.modified},
                        {"entries", std::move(entries)}});
    }
    const std::string text = json{{"format", fileFormat}, {"modules", std::move(list)}}.dump(
                                 1, ' ', false, json::error_handler_t::replace) +
                             "\n";
    std::error_code ignored;
    std::filesystem::create_directories(file.parent_path(), ignored);
    const std::filesystem::path temporary = withSuffix(file, ".tmp");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return false;
    }
    if (!replaceFile(temporary, file)) return false;
    dirty = false;
    return true;
}
