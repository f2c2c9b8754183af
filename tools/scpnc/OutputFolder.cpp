#include "OutputFolder.h"

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace scpnc {

namespace fs = std::filesystem;

const char* const kFileList = "scpnc-files.txt";

namespace {

bool sameContent(const fs::path& path, const std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream existing;
    existing << in.rdbuf();
    return existing.str() == content;
}

// Writes beside the target and renames, so a file is never seen half-written.
bool replaceFile(const fs::path& path, const std::string& content, std::string& error) {
    const fs::path temporary = path.string() + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out.flush()) {
            error = "cannot write " + temporary.string();
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    if (ec) {
        error = "cannot write " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

std::set<std::string> previousFiles(const fs::path& list) {
    std::set<std::string> names;
    std::ifstream in(list);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) names.insert(line);
    return names;
}

}  // namespace

bool writeOutput(const std::string& folder, const std::vector<GeneratedFile>& files, std::string& error) {
    const fs::path dir(folder);
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir)) {
        error = "cannot create the output folder " + folder;
        return false;
    }
    std::set<std::string> current;
    std::string list;
    for (const GeneratedFile& f : files) {
        current.insert(f.name);
        list += f.name + "\n";
        const fs::path path = dir / f.name;
        if (!sameContent(path, f.content) && !replaceFile(path, f.content, error)) return false;
    }
    for (const std::string& old : previousFiles(dir / kFileList))
        // Only plain file names written by an earlier run.
        if (current.count(old) == 0 && old.find('/') == std::string::npos) fs::remove(dir / old, ec);
    if (!sameContent(dir / kFileList, list) && !replaceFile(dir / kFileList, list, error)) return false;
    return true;
}

}  // namespace scpnc
