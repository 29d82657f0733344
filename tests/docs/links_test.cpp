// Every relative link of the given Markdown files resolves: the file or folder
// exists, and a #fragment names one of its headings as GitHub anchors them.
// Usage: docs_links_test ROOT [FILE...]   (FILEs relative to ROOT; without
// any, every Markdown file under ROOT)
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The anchors of a Markdown file's headings outside code blocks: the heading
// in lower case, of its letters, digits, blanks, '_' and '-' alone, each
// blank a '-'.
std::set<std::string> anchors(const fs::path& file) {
    std::set<std::string> found;
    std::ifstream in(file);
    bool code = false;
    const std::regex heading("#+ (.*)");
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("```", 0) == 0) {
            code = !code;
        } else if (!code && std::regex_match(line, match, heading)) {
            std::string anchor;
            for (char c : match[1].str()) {
                c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
                if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
                    anchor += c;
                } else if (c == ' ') {
                    anchor += '-';
                }
            }
            found.insert(anchor);
        }
    }
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: docs_links_test ROOT [FILE...]\n";
        return 2;
    }
    const fs::path root = argv[1];
    std::vector<std::string> files(argv + 2, argv + argc);
    if (files.empty()) {
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file() && entry.path().extension() == ".md") {
                files.push_back(fs::relative(entry.path(), root).string());
            }
        }
        std::sort(files.begin(), files.end());
    }
    const std::regex link(R"(\]\(([^)\n]*)\))");
    const std::regex external("^[a-z]*:.*");
    bool broken = false;
    for (const std::string& file : files) {
        std::ifstream in(root / file);
        if (!in) {
            std::cout << file << ": missing\n";
            broken = true;
            continue;
        }
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        for (std::sregex_iterator it(text.begin(), text.end(), link), end; it != end; ++it) {
            const std::string target = (*it)[1];
            if (std::regex_match(target, external)) {
                continue;
            }
            const std::string::size_type hash = target.find('#');
            const std::string name = target.substr(0, hash);
            const fs::path path = name.empty() ? root / file : (root / file).parent_path() / name;
            std::error_code error;
            if (!fs::exists(path, error) ||
                (hash != std::string::npos && !anchors(path).count(target.substr(hash + 1)))) {
                std::cout << file << ": broken link " << target << "\n";
                broken = true;
            }
        }
    }
    if (!broken) {
        std::cout << "every relative link of " << files.size() << " files resolves\n";
    }
    return broken ? 1 : 0;
}
