// Reading and writing the files in which persistent device models keep their
// state. A file the user has that cannot be taken whole is an error naming
// the file (and the line, for text files); it is never replaced by defaults,
// so a user's state survives a run that refused to start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Empty when `dir` is a directory the simulator can list, read and write;
// otherwise why not, naming it.
std::string check_state_dir(const std::string& dir);

// Empty when `file` is missing, or is a regular file that can be read and
// rewritten; otherwise why not, naming it.
std::string check_state_file(const std::string& file);

enum class StateRead { missing, read, failed };

// A binary state file of exactly `size` bytes. `failed` (with the reason in
// `error`) when it exists but cannot be read or written, or has another size.
StateRead read_state_bytes(const std::string& file, size_t size, std::vector<uint8_t>* bytes,
                           std::string* error);

// One "name value" line of a text state file.
struct StateLine {
    unsigned number;  // from 1
    std::string name;
    std::string value;
};

// "<file>:<line>: <what>", the form of every state file error.
std::string state_error(const std::string& file, unsigned line, const std::string& what);

// What follows a line's name: one word, or the rest of the line (texts
// with spaces in them).
enum class StateValue { word, rest_of_line };

// The "name value" lines of a text state file; blank lines and lines
// starting with '#' are skipped. `failed` when it exists but cannot be read
// or written, or a line is not a name and one value.
StateRead read_state_lines(const std::string& file, std::vector<StateLine>* lines,
                           std::string* error, StateValue value = StateValue::word);

// One named value of a model's text state file: how it is read from its
// line and written back, and what a good value is (for the error).
template <typename State>
struct StateEntry {
    const char* name;
    const char* expected;
    std::function<bool(const std::string& value, State* state)> read;
    std::function<std::string(const State& state)> write;
};

// The lines through a model's table, into `state`: false with
// "<file>:<line>: <name>: expected <what>, got "<value>"" or
// "<file>:<line>: unknown name "<name>" (expected <names>)" for the first
// line that does not read.
template <typename State>
bool read_state_entries(const std::string& file, const std::vector<StateLine>& lines,
                        const std::vector<StateEntry<State>>& table, State* state,
                        std::string* error) {
    for (const StateLine& line : lines) {
        const StateEntry<State>* found = nullptr;
        for (const StateEntry<State>& entry : table) {
            found = line.name == entry.name ? &entry : found;
        }
        if (found == nullptr) {
            std::string names;
            for (const StateEntry<State>& entry : table) {
                names += (names.empty() ? "" : ", ") + std::string(entry.name);
            }
            *error = state_error(file, line.number,
                                 "unknown name \"" + line.name + "\" (expected " + names + ")");
            return false;
        }
        if (!found->read(line.value, state)) {
            *error = state_error(
                file, line.number,
                line.name + ": expected " + found->expected + ", got \"" + line.value + "\"");
            return false;
        }
    }
    return true;
}

// A "name value" line for each entry of the table, in its order.
template <typename State>
std::string state_entries_text(const std::vector<StateEntry<State>>& table, const State& state) {
    std::string text;
    for (const StateEntry<State>& entry : table) {
        text += std::string(entry.name) + " " + entry.write(state) + "\n";
    }
    return text;
}

// The value of a line as a number, or an error naming its line and name.
bool state_number(const std::string& file, const StateLine& line, double* value,
                  std::string* error);

// Replaces `file` with `contents` atomically: a temporary file beside it,
// renamed over it, so that a crash never leaves a short file (a symbolic
// link stays one; its target is replaced). Empty on success, otherwise
// "<file>: <error>".
std::string replace_state_file(const std::string& file, const std::string& contents);
// The same, stopping the simulator on failure (stop_on_state_error): the
// run would lose what the station wrote.
void write_state_file(const std::string& file, const std::string& contents);
// The same, false instead of stopping: for a model going away with its
// state directory already gone.
bool try_write_state_file(const std::string& file, const std::string& contents);

// A state file could not be read or written during the run: prints
// "ktr09-sim: <file>: <error>" on stderr, removes the files given to
// remove_if_stopped and ends the process at once with the state error code
// (exit_codes.h). Any thread may call it.
[[noreturn]] void stop_on_state_error(const std::string& file, const std::string& error);
// A file that must not outlive a run stopped that way (a card image being
// made), or that may again (keep_if_stopped).
void remove_if_stopped(const std::string& file);
void keep_if_stopped(const std::string& file);
// What such a stop does first (put the terminal's settings back).
void before_state_stop(void (*action)());

}  // namespace sim
