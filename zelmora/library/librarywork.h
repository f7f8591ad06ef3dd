#pragma once
#include "engine/commandline.h"
#include "library/journal.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace zm {

// What identifies the converter `<appDir>/data/conv` ("conv SIZE MTIME"): any new build or copy of
// it counts as a new version; empty when it is missing.
QString converterVersion(const QString &appDir);

// A digest of what shapes an output: the converter's arguments for these choices with the paths
// left out (format, options, cut), so choices the format does not use change nothing. With a
// converter version, the fingerprint the journal keeps.
QString settingsHash(const CommandInputs &in);
QString settingsFingerprint(const CommandInputs &in, const QString &converterVersion);

// What to do with an output name that is already taken on disk.
enum class ExistingPolicy {
    Replace, // convert; the new file replaces the old one whole
    Skip,    // leave the file and skip the input
    Number,  // write "name (n).ext", the first free n
    Update,  // skip when up to date, replace what this program made before, keep anything else
};
std::optional<ExistingPolicy> existingPolicyFromName(const QString &name);
QString existingPolicyName(ExistingPolicy policy);

struct ExistingDecision {
    bool convert = true;
    QString output; // convert: the name to write
    QString reason; // skip: why ("up to date", "exists")
    bool upToDate = false;
};
// The decision for an input whose output would be `wanted` (a name no earlier file of the batch
// holds). `standing` is where the journal says the output stands; `numbered` gives the first
// free numbered name.
ExistingDecision decideExisting(ExistingPolicy policy, const QString &wanted, Standing standing,
                                const std::function<QString()> &numbered);

// The folder an input found below `folderGiven` goes to under `outputRoot`: the same path
// relative to the folder given. An input not below it goes to the root.
QString mirroredFolder(const QString &outputRoot, const QString &folderGiven, const QString &inputPath);

// Cover images beside music: cover.jpg, folder.jpg and front.* (any case), in name order.
bool isCoverImage(const QString &fileName);
QStringList coverImages(const QString &folder);

// Copies the cover images of `from` that `to` does not have yet (an existing file is never
// replaced). Each copy appears whole or not at all. Returns the errors, one line each.
QStringList copyCovers(const QString &from, const QString &to, QStringList *copied = nullptr);

// Moves a converted input to the user's trash (the freedesktop trash, so the file manager can
// put it back). Never when the output is the input.
struct TrashResult {
    bool trashed = false;
    QString message; // why not
};
TrashResult trashOriginal(const QString &input, const QString &output);

} // namespace zm
