// Setup paths and directories drawn from the characters the interpreter
// treats specially, each carrying a command that would create a canary
// folder. Every run is either refused with its own message or hands the setup
// exactly what was given, and no canary ever appears. The generator is
// seeded; QIX_HOSTILE_RUNS sets the number of runs (default 48).
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "../setup/setup_switches.h"
#include "harness.h"

namespace fs = std::filesystem;

namespace {

const char* const kAlphabet[] = {" ", "&", "|", "<", ">", "^", "(", ")", "%", "!", "\"",
                                 "'", ",", ";", "=", "a", "b", "ä", "Ж", "é", "."};

// Characters no name under Wine's drive Z: can show as themselves.
const std::string kUnmappable = "\"|<>";

struct Sample {
    std::string setup;      // first argument, as the program sees it
    std::string directory;  // the /D= value
    std::string canary;     // what the payload would create, in the program's folder
};

class Generator {
  public:
    explicit Generator(const Bench& bench) : bench_(bench) {}

    Sample next(int index) {
        Sample sample;
        sample.canary = "canary" + std::to_string(index);
        // Mostly names Windows can hold, so that most runs reach the setup;
        // the rest may hold anything and must be refused.
        nameable_ = pick(4) != 0;
        // Sometimes no payload at all: a name without a blank shows whether
        // the interpreter still finds the program.
        std::string setupName = pick(4) == 0 ? text() : hostile(sample.canary);
        if (pick(2) == 0) {
            // A real folder holding the setup.
            std::string folder;
            for (char c : setupName) {
                if (kUnmappable.find(c) == std::string::npos) {
                    folder += c;
                }
            }
            folder = "s" + std::to_string(index) + folder;
            bench_.installSetup(folder + "/setup.exe");
            sample.setup = bench_.hostPath(bench_.dir() + "/" + folder) + "\\setup.exe";
        } else {
            // A folder that ".." cancels, so that anything passes the existence test.
            sample.setup =
                bench_.hostPath(bench_.dir() + "/s") + "\\" + setupName + "\\..\\setup.exe";
        }
        std::string directoryName = hostile(sample.canary);
        std::string base = bench_.hostPath(bench_.dir() + "/d" + std::to_string(index));
        switch (pick(3)) {
            case 0:
                sample.directory = base + directoryName;
                break;
            case 1:
                sample.directory = base + directoryName + "\\";
                break;
            default:
                sample.directory = base + "\\" + directoryName + "\\..\\t";
                break;
        }
        return sample;
    }

  private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

    std::string text() {
        std::string result;
        for (int length = pick(6); length > 0; --length) {
            std::string c = kAlphabet[pick(sizeof(kAlphabet) / sizeof(kAlphabet[0]))];
            if (!nameable_ || kUnmappable.find(c) == std::string::npos) {
                result += c;
            }
        }
        return result;
    }

    std::string hostile(const std::string& canary) {
        // The first five fit in a Windows name.
        const std::string payloads[] = {
            "&mkdir " + canary + "&",     "^&mkdir " + canary,
            ")&mkdir " + canary + "&(",   "&&mkdir " + canary,
            "%&mkdir " + canary + "&%",   "\"&mkdir " + canary + "&\"",
            "|mkdir " + canary,           "\"|mkdir " + canary + "|\"",
            "\"^&mkdir " + canary + "\"", "<nul mkdir " + canary + ">nul",
        };
        int count = sizeof(payloads) / sizeof(payloads[0]);
        return text() + payloads[pick(nameable_ ? 5 : count)] + text();
    }

    const Bench& bench_;
    std::mt19937 random_{20261207};
    bool nameable_ = true;
};

// The directory as the setup must receive it: blanks around the value
// trimmed, then one closing quote taken off.
std::string settled(std::string directory) {
    directory.erase(directory.find_last_not_of(" \t") + 1);
    if (!directory.empty() && (directory.back() == '"' || directory.back() == '\'')) {
        directory.pop_back();
    }
    return directory;
}

TEST(Hostile, PathsNeverRunAnotherCommand) {
    Bench bench(Target::kWindows);
    bench.installSetup("s/setup.exe");
    const char* count = std::getenv("QIX_HOSTILE_RUNS");
    const int runs = count ? std::atoi(count) : 48;

    Generator generator(bench);
    std::vector<Sample> samples;
    for (int index = 0; static_cast<int>(samples.size()) < runs; ++index) {
        samples.push_back(generator.next(index));
    }

    auto runSample = [&](std::size_t i) {
        std::string record = bench.hostPath(bench.dir() + "/record" + std::to_string(i));
        return bench.run({samples[i].setup, "/D=" + samples[i].directory},
                         {{"QIX_SETUP_RECORD", record}});
    };
    std::vector<Outcome> outcomes(samples.size());
    const std::size_t kThreads = 4;
    std::vector<std::thread> threads;
    for (std::size_t first = 0; first < kThreads; ++first) {
        threads.emplace_back([&, first] {
            for (std::size_t i = first; i < samples.size(); i += kThreads) {
                try {
                    outcomes[i] = runSample(i);
                } catch (const std::exception& error) {
                    outcomes[i].err = error.what();
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    int launched = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Sample& s = samples[i];
        const Outcome& outcome = outcomes[i];
        std::string directory = settled(s.directory);
        std::string notFound =
            "Path not found: " + s.setup + "\nFirst parameter must be setup path\n";
        std::string record = bench.dir() + "/record" + std::to_string(i);
        SCOPED_TRACE("setup " + s.setup + "\ndirectory " + s.directory + "\n" + describe(outcome));
        if (s.setup.find('"') != std::string::npos) {
            EXPECT_EQ(bench.lines(notFound), outcome.err);
        } else if (directory.find('"') != std::string::npos &&
                   outcome.err != bench.lines(notFound)) {
            EXPECT_EQ(bench.lines("Can not create directory " + directory + "\n"), outcome.err);
        }
        EXPECT_EQ("", outcome.out);
        if (!exists(record)) {
            EXPECT_EQ(255, outcome.exitCode);
            EXPECT_TRUE(
                outcome.err == bench.lines(notFound) ||
                outcome.err == bench.lines("Can not create directory " + directory + "\n") ||
                outcome.err == bench.lines("No access rights for directory " + directory + "\n"))
                << outcome.err;
            continue;
        }
        ++launched;
        EXPECT_EQ(0, outcome.exitCode) << outcome.err;
        EXPECT_EQ("", outcome.err);
        std::string received = readFile(record);
        bool quoted = s.setup.find_first_of(" ,;=&|<>^()") != std::string::npos;
        std::string program = quoted ? "\"" + s.setup + "\"" : s.setup;
        EXPECT_EQ(program + " /S ", received.substr(0, program.size() + 4)) << received;
        // The setup gets the directory as created: "<name>\..\t" is "t".
        const std::string up = "\\..\\t";
        if (directory.size() > up.size() &&
            directory.compare(directory.size() - up.size(), up.size(), up) == 0) {
            directory.erase(directory.rfind('\\', directory.size() - up.size() - 1) + 1);
            directory += "t";
        }
        EXPECT_EQ(directory, parseSetupSwitches(received).directory) << received;
    }
    // Refusing everything would pass the checks above without proving much.
    EXPECT_GE(launched * 4, runs) << "only " << launched << " runs reached the setup";
    for (const std::string& name : listDir(bench.dir())) {
        EXPECT_NE(0u, name.rfind("canary", 0)) << "a payload ran: " << name;
    }
}

}  // namespace
