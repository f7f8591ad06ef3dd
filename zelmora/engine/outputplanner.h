#pragma once
#include "engine/batchreport.h"
#include "engine/commandline.h"

#include <QString>

namespace zm {

// A queued file with the output a batch started now would give it.
struct PlannedOutput {
    CommandInputs inputs;
    QString output;
};

// What a window batch asks about its outputs beyond the batch's own " (2)" naming: where a
// file's output goes (a mirrored folder), whether a name a file on disk already holds is passed
// over, whether a file is converted at all, and how each file's conversion ended (the record of
// what was made, the originals). The library supplies the real one; without one the batch is the
// flat flow, and every existing output is replaced.
class OutputPlanner
{
public:
    virtual ~OutputPlanner() = default;
    // The folder the output of `input` goes to, below the output folder `outputDir`; `root` is
    // the folder it was found in (empty for a file added by itself).
    virtual QString outputFolder(const QString &outputDir, const QString &root, const QString &input) = 0;
    // True when a name a file on disk already has is passed over as one an earlier file of the
    // batch holds ("name (2).ext").
    virtual bool avoidExisting() const = 0;
    // A file is about to be converted into `output`: false leaves the output alone and the
    // file out of the batch, with the reason.
    virtual bool accept(const CommandInputs &in, const QString &output, QString *reason) = 0;
    // Its converter starts.
    virtual void started(const CommandInputs &in, const QString &output) = 0;
    // Its conversion has ended (not called for a file stopped, which stays queued).
    virtual void ended(const QString &input, const QString &output, FileVerdict::Kind kind, const QString &reason) = 0;
};

} // namespace zm
