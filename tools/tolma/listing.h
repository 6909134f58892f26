// Archives and their XML listings: what 'list --xml' prints and what
// 'create --listing' builds from.
#pragma once

#include "command.h"

namespace tolma {

// The archive's tree as a listing (files with their encodings, directories;
// no passwords, which the archive does not keep) on standard output, in the
// listing's own form: Shift_JIS text, backslash escapes.
int ListAsXml(const Options& o);

// The archive ARCHIVE from DIR, holding exactly what the listing names, each
// file with its encoding and password. Everything named is checked before
// the archive is created: a name missing from DIR, or one the archive cannot
// hold, is reported and no archive is written.
int CreateFromListing(const Options& o);

}  // namespace tolma
