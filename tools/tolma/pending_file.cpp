#include "pending_file.h"

#include "output.h"
#include "tool_system.h"

namespace tolma {

bool PendingFile::Open() {
    // Beside the target, so that the rename stays on one volume; a name
    // taken already (another run, a file of the user's) is never reused.
    for (int n = 0; n < 100; ++n) {
        const std::string name = target_ + ".tolma-partial" + (n == 0 ? "" : std::to_string(n));
        if (!tool::CreateNewFile(name)) {
            if (tool::GetPathKind(name) != tool::PathKind::None) continue;
            break;
        }
        temporary_ = name;
        if (file_.Open(name.c_str(), modeCreate | modeRead | modeWrite) == ResultSuccess) return true;
        break;
    }
    Error("cannot create a file beside " + NativeShown(target_) + " (" + tool::LastErrorText() + ")");
    Discard();
    return false;
}

bool PendingFile::Commit() {
    file_.Close();
    if (tool::GetPathKind(target_) == tool::PathKind::File) tool::CopyPermissions(target_, temporary_);
    if (!tool::RenameOver(temporary_, target_)) {
        Error("cannot replace " + NativeShown(target_) + " (" + tool::LastErrorText() + "); it is unchanged");
        Discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void PendingFile::Discard() {
    file_.Close();
    if (!temporary_.empty()) tool::RemoveFile(temporary_);
    temporary_.clear();
}

}  // namespace tolma
