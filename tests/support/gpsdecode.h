// gpsd's gpsdecode as the judge of AIS sentences: the JSON object it prints
// for the first message the sentences carry (unscaled: raw field values).
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/state_dir.h"

constexpr const char* kGpsdecode = "/usr/bin/gpsdecode";

inline bool gpsdecode_installed() {
    return std::filesystem::exists(kGpsdecode);
}

// A discarded value when gpsdecode printed nothing it could parse.
inline nlohmann::json gpsdecode_json(const std::vector<std::string>& sentences) {
    const TemporaryStateDir scratch;
    const std::filesystem::path input = scratch.path() / "ais.nmea";
    {
        std::ofstream out(input, std::ios::binary);
        for (const std::string& sentence : sentences) {
            out << sentence;
        }
    }
    const std::string command = std::string(kGpsdecode) + " -u < " + input.string();
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, n);
        }
        pclose(pipe);
    }
    return nlohmann::json::parse(output.substr(0, output.find('\n')), nullptr, false);
}
