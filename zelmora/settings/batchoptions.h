#pragma once
#include <QString>

namespace zm {

// What a window batch does with an output name a file on disk already has: `Existing=` under
// `[Batch]` in zelmora.conf. Ask puts the question before the batch starts (the default);
// the others are a remembered answer.
enum class ExistingChoice { Ask, Replace, Skip, Number };

// "ask", "replace", "skip", "number".
QString existingChoiceText(ExistingChoice choice);
// The choice a stored value names (any case, blanks around it ignored); Ask for anything else.
ExistingChoice existingChoiceFromText(const QString &text);

// The Options menu's library choices of the window, under `[Batch]` in zelmora.conf.
struct BatchOptions {
    bool keepFolderStructure = false; // KeepFolderStructure=
    ExistingChoice existing = ExistingChoice::Ask;
    bool trashOriginals = false; // TrashOriginals=
    friend bool operator==(const BatchOptions &, const BatchOptions &) = default;
};

// Missing keys, garbage and lists keep the defaults: flat outputs, ask, keep the originals.
BatchOptions readBatchOptions(const QString &confPath);
// Keeps the other keys of the file; false when it could not be written.
bool writeBatchOptions(const QString &confPath, const BatchOptions &options);

} // namespace zm
