// What both converter programs share around the conversion itself: the main() frame (signal
// set-up, library log capture, --help and --version, one error line and its exit code), and the
// lines they add on stderr besides an error: "NAME: note: ..." when a value was changed to one
// the encoder takes, "NAME: warning: ..." when the input was damaged.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace zmconv {

struct ProgramInfo {
    const char* name;  // "conv", "vv": the prefix of every line on stderr
    const char* usage; // the --help text before the exit codes, ending in a newline
};

// Runs body with the arguments (without the program name) as the whole program and returns the
// exit code: 0 when body returns, the class of a ConvError it throws, and Interrupted whenever a
// stop was requested, whatever call the stop ended. "--help" or "--version" as the first argument
// print their text on stdout and return 0.
int run_program(const ProgramInfo& info, int argc, char** argv,
                const std::function<void(const std::vector<std::string>&)>& body);

// The exit-code table printed by --help.
std::string exit_code_help();
// "NAME VERSION, on FFmpeg X" as printed by --version.
std::string version_text(const char* name);

// "NAME: note: text" on stderr.
void note(const std::string& text);
// "NAME: warning: text" on stderr.
void warn(const std::string& text);

// While it lives, the process's standard error goes to /dev/null: for library calls that print
// there themselves (libx264 reading its options), where the converter's own line says what went
// wrong. Only where no other thread of the converter writes a line.
class StandardErrorSilenced
{
public:
    StandardErrorSilenced();
    ~StandardErrorSilenced();
    StandardErrorSilenced(const StandardErrorSilenced&) = delete;
    StandardErrorSilenced& operator=(const StandardErrorSilenced&) = delete;

private:
    int m_saved = -1;
};

// The output that was discarded had received data; the stop line then says it was removed.
void set_partial_output_removed(bool removed);
bool partial_output_removed();

} // namespace zmconv
