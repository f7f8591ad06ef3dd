// Where the bytes of an output go until it is complete, and how it gets its name.
//
// An output is written into an unnamed file (O_TMPFILE) in the folder it will live in. Only when
// the conversion is complete is the file flushed to disk (fsync), linked to a name, renamed over
// the final name and the folder flushed too. Whatever ends the converter before that (an error,
// a stop, SIGKILL, a crash, a power cut), the unnamed file simply vanishes: a new output does not
// exist, a replaced one is still the old file, and no hidden file is left. A new output is linked
// straight to its final name; a replacing one goes through a private hidden name for the moment
// between link and rename.
//
// Where the file system refuses O_TMPFILE (or /proc is missing, so the unnamed file could not be
// linked), the bytes go into a hidden named file beside the output,
// ".NAME.partial-HOST-PID-XXXXXX", which carries a hash of the host name and the writer's process
// id. The next run that writes the same output removes such files whose writer on this host is
// gone. Setting ZMCONV_NAMED_TEMP in the environment chooses this way on any file system.
//
// An output name that is a symbolic link keeps the link: the file it points to is the one
// replaced, with the temporary file beside it. An existing output that is not a regular file (a
// device such as /dev/null, a FIFO) is written directly, as there is nothing to rename.
#pragma once

#include <string>

namespace zmconv {

class OutputTarget
{
public:
    enum class Kind { Unnamed, Named, Direct };

    struct Options {
        std::string path;
        bool overwrite = false; // -y
        std::string input_path; // refused as output (same file); "" = no check
        bool allow_unnamed = true;
    };

    // Checks the name, the folder (exists, writable), the overwrite rule and that the output is
    // not the input; creates nothing. Throws ConvError (Usage for a name that is a folder,
    // Output otherwise).
    explicit OutputTarget(const Options& options);
    // Not committed: the temporary file goes; a device or FIFO is only closed.
    ~OutputTarget();
    OutputTarget(const OutputTarget&) = delete;
    OutputTarget& operator=(const OutputTarget&) = delete;

    // Removes temporaries of gone writers of this output, then creates the temporary file (or
    // opens the device or FIFO). Throws ConvError(Output), or Interrupted when a stop ends the
    // wait for a FIFO's reader.
    void open();
    // Flushes the file to disk and gives it the output's name. Throws ConvError (Codec when the
    // data cannot be flushed, Output when the name cannot be given).
    void commit();
    // Starts writing the file's data to disk without waiting (the flush of commit() then has
    // less left to do); nothing for a device or FIFO. Never fails: commit() reports errors.
    void start_flush();

    int fd() const { return m_fd; }
    // A name under which the temporary file can be opened again to be read (through /proc for
    // the unnamed file); "" for a device or FIFO, which cannot be read back.
    std::string read_path() const;
    Kind kind() const { return m_kind; }
    bool seekable() const { return m_kind != Kind::Direct; }
    const std::string& path() const { return m_path; }
    // The file that receives the output: the path with symbolic links followed.
    const std::string& target() const { return m_target; }

    // Removes hidden temporaries of the target whose writer on this host is gone; returns how
    // many. open() does this itself.
    int remove_stale_temporaries() const;
    // The start of the hidden names of temporaries of a file named file_name written on this
    // host: ".NAME.partial-HOST-".
    static std::string temporary_prefix(const std::string& file_name);

private:
    void open_unnamed();
    void open_named();
    void open_direct();
    void take_permissions();
    std::string unique_name() const;

    std::string m_path;
    std::string m_target;
    std::string m_folder;
    std::string m_name; // file name of the target
    std::string m_temp; // named temporary or private link name, "" = none
    bool m_overwrite = false;
    bool m_replace = false; // the target exists as a regular file
    bool m_allow_unnamed = true;
    Kind m_kind = Kind::Unnamed;
    int m_fd = -1;
    bool m_committed = false;
};

} // namespace zmconv
