#include "Accept.h"

#include "Inflate.h"
#include "InputFile.h"
#include "Platform.h"
#include "Printable.h"
#include "ResultJson.h"
#include "Utf8Path.h"

#include <memory>
#include <new>
#include <vector>

namespace {

// A file's bytes, whole, when it is still `size` bytes long with the CRC-32
// `crc` and fits the memory at hand; empty otherwise, with the reason.
bool ReadRecorded(const std::string& path, const PairResult::FileDigest& digest, std::vector<uint8_t>& bytes,
                  std::string& why)
{
    CInputFile file;
    if (!file.Open(path.c_str())) {
        why = Printable(path) + " cannot be read";
        return false;
    }
    if (file.Size() != digest.size) {
        why = Printable(path) + " changed since the run (its size)";
        return false;
    }
    if (digest.size > AvailableMemory() / 2) {
        why = Printable(path) + " is too large for the memory at hand";
        return false;
    }
    try {
        bytes.resize(size_t(digest.size));
    } catch (const std::bad_alloc&) {
        why = Printable(path) + " is too large for the memory at hand";
        return false;
    }
    if (!file.ReadAt(0, bytes.data(), bytes.size()) || !file.Unchanged()) {
        why = Printable(path) + " cannot be read";
        return false;
    }
    if (Crc32(bytes.data(), bytes.size()) != digest.crc) {
        why = Printable(path) + " changed since the run (its contents)";
        return false;
    }
    return true;
}

// Whether a relative path from a document stays below the folder it is
// joined to: no root, no drive, no "..", nothing empty.
bool StaysBelow(const std::string& relative)
{
    const std::filesystem::path path = PathOf(relative);
    if (relative.empty() || path.has_root_name() || path.has_root_directory())
        return false;
    for (const auto& part : path) {
        if (part.empty() || part == "." || part == "..")
            return false;
    }
    return true;
}

// Whether `path`, its links resolved, lies inside `folder`, its own resolved.
bool InsideFolder(const std::string& path, const std::string& folder)
{
    std::error_code error;
    const auto target = std::filesystem::weakly_canonical(PathOf(path), error);
    const auto root = std::filesystem::weakly_canonical(PathOf(folder), error);
    if (error)
        return false;
    auto t = target.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++t) {
        if (r->empty() && std::next(r) == root.end())
            break;  // the trailing separator of a folder name
        if (t == target.end() || *t != *r)
            return false;
    }
    return t != target.end();
}

} // namespace

bool GlobMatches(const std::string& pattern, const std::string& text)
{
    // Iterative, with a single point to return to: linear in practice.
    size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        // A backslash takes the character after it as it stands.
        const bool escaped = p + 1 < pattern.size() && pattern[p] == '\\';
        if (escaped && pattern[p + 1] == text[t]) {
            p += 2, ++t;
        } else if (!escaped && p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p, ++t;
        } else if (!escaped && p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

int AcceptChanges(const std::string& documentFile, const std::string& pattern, COut& out,
                  std::vector<std::string>& refusals, std::string& failure)
{
    RunDocument document;
    if (!ReadRunDocument(documentFile, document, failure, true))
        return 2;
    const bool folders = !(document.pairs.size() == 1 && document.pairs[0]->path.empty());
    for (const auto& entry : document.pairs) {
        const RunDocument::Pair& pair = *entry;
        const PairResult& result = pair.result;
        if (result.trouble != Trouble::None || result.passed)
            continue;
        const std::string name = folders ? pair.path : pair.second;
        if (!pattern.empty() && !GlobMatches(pattern, name))
            continue;
        const auto refuse = [&](const std::string& why) { refusals.push_back(Printable(name) + ": " + why); };
        if (!result.files[0].bKnown || !result.files[1].bKnown) {
            refuse("the results record no sizes and checksums of its files (run the comparison again)");
            continue;
        }
        // The files are the document's folders joined with the pair's
        // relative path, and nothing else it names.
        std::string expected = pair.first, actual = pair.second, folder;
        if (folders) {
            if (!StaysBelow(pair.path)) {
                refuse("its path leaves the folders");
                continue;
            }
            expected = Utf8(PathOf(document.first) / PathOf(pair.path));
            actual = Utf8(PathOf(document.second) / PathOf(pair.path));
            folder = document.first;
        } else {
            folder = Utf8(PathOf(expected).parent_path());
            if (folder.empty())
                folder = ".";
        }
        if (!InsideFolder(expected, folder)) {
            refuse(Printable(expected) + " leads out of its folder");
            continue;
        }
        std::vector<uint8_t> bytes, unused;
        std::string why;
        // Accepted before: the expected file is the actual one already.
        if (ReadRecorded(expected, result.files[1], unused, why) && ReadRecorded(actual, result.files[1], bytes, why)) {
            out.Put("already accepted " + Printable(name) + "\n");
            continue;
        }
        if (!ReadRecorded(expected, result.files[0], unused, why) || !ReadRecorded(actual, result.files[1], bytes, why)) {
            refuse(why);
            continue;
        }
        COutputFile file;
        if (!file.Open(expected.c_str()) || !file.Write(bytes.data(), bytes.size()) || !file.Commit()) {
            refuse(Printable(expected) + " could not be written");
            continue;
        }
        out.Put("accepted " + Printable(name) + ": " + Printable(actual) + " -> " + Printable(expected) + "\n");
    }
    return refusals.empty() ? 0 : 2;
}
