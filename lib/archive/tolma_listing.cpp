#include "archive/tolma_listing.h"

#include "archive/tolma_entry.h"
#include "text/path_scan.h"
#include "text/stream_buffer.h"

namespace {

const uint32_t kEncodings[] = {TOLMA_ENCODING_RAW, TOLMA_ENCODING_CODE, TOLMA_ENCODING_BSHF_CRYPT,
                               TOLMA_ENCODING_CRYPT};

// Only a-z and A-Z compare alike, as in archive names.
bool EqualsNoCase(const EWideString& a, const char* b) {
    const WideChar* text = a.GetString();
    uint32_t i = 0;
    for (; i < a.GetLength(); ++i) {
        WideChar x = text[i];
        WideChar y = static_cast<unsigned char>(b[i]);
        if (y == 0) return false;
        if (x >= 'a' && x <= 'z') x = static_cast<WideChar>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<WideChar>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return b[i] == 0;
}

EString Narrow(const EWideString* text) {
    if (text == nullptr || text->IsEmpty()) return EString("");
    return EString(text->GetString(), static_cast<int32_t>(text->GetLength()));
}

EWideString Wide(const EString& text) {
    return EWideString(text.GetString() != nullptr ? text.GetString() : "", static_cast<int32_t>(text.GetLength()));
}

}  // namespace

TOLMAListingItem::~TOLMAListingItem() { delete contents; }

TOLMAListingDirectory::~TOLMAListingDirectory() {
    // Every directory below is detached from its item before it is deleted,
    // so no deletion reaches further down than one level.
    EPtrArray pending;
    auto detach = [&pending](TOLMAListingDirectory* directory) {
        for (uint32_t i = 0; i < directory->GetCount(); ++i) {
            TOLMAListingItem* item = directory->GetAt(i);
            if (item != nullptr && item->contents != nullptr) {
                pending.Add(item->contents);
                item->contents = nullptr;
            }
        }
    };
    detach(this);
    while (pending.GetCount() > 0) {
        auto* directory = static_cast<TOLMAListingDirectory*>(pending.GetAt(pending.GetCount() - 1));
        pending.RemoveAt(pending.GetCount() - 1);
        detach(directory);
        delete directory;
    }
}

TOLMAListingItem* TOLMAListingDirectory::FindItem(const char* name) const {
    for (uint32_t i = 0; i < GetCount(); ++i) {
        TOLMAListingItem* item = GetAt(i);
        if (item != nullptr && EntryNameEquals(item->name.GetString(), name)) return item;
    }
    return nullptr;
}

// ---- XML form --------------------------------------------------------------------

ResultCode TOLMAArchiveListing::LoadFromDescription(TOLMAListingDirectory* directory, const EDescription* node,
                                                    uint32_t depth) {
    if (directory == nullptr || node == nullptr) return ResultGeneralError;
    if (depth > EDescription::kMaxDepth) return ResultGeneralError;
    for (uint32_t i = 0; i < node->GetChildCount(); ++i) {
        const EDescription* element = node->GetChildAt(static_cast<int32_t>(i));
        const bool file = EqualsNoCase(element->GetTag(), "file");
        if (!file && !EqualsNoCase(element->GetTag(), "directory")) continue;
        auto* item = new TOLMAListingItem;
        item->name = Narrow(element->FindAttribute(HVB_WTEXT("name")));
        if (file) {
            const EWideString* keyword = element->FindAttribute(HVB_WTEXT("encoding"));
            for (uint32_t code : kEncodings) {
                if (keyword != nullptr && EqualsNoCase(*keyword, GetEncodingKeyword(code))) item->encoding = code;
            }
            item->password = Narrow(element->FindAttribute(HVB_WTEXT("password")));
            directory->Add(item);
            continue;
        }
        item->attributes = TOLMA_ATTRIBUTE_DIRECTORY;
        item->contents = new TOLMAListingDirectory(directory);
        directory->Add(item);
        if (LoadFromDescription(item->contents, element, depth + 1) != ResultSuccess) return ResultGeneralError;
    }
    return ResultSuccess;
}

ResultCode TOLMAArchiveListing::StoreToDescription(EDescription* node, const TOLMAListingDirectory* directory,
                                                   uint32_t depth) const {
    if (node == nullptr || directory == nullptr) return ResultGeneralError;
    if (directory->GetCount() > 0 && depth >= EDescription::kMaxDepth) return ResultGeneralError;
    for (uint32_t i = 0; i < directory->GetCount(); ++i) {
        const TOLMAListingItem* item = directory->GetAt(i);
        if (item == nullptr) continue;
        auto* element = new EDescription;
        element->SetTag(item->IsDirectory() ? HVB_WTEXT("directory") : HVB_WTEXT("file"));
        element->SetAttributeString(HVB_WTEXT("name"), Wide(item->name).GetString());
        node->AddChild(element);
        if (item->IsDirectory()) {
            if (item->contents != nullptr &&
                StoreToDescription(element, item->contents, depth + 1) != ResultSuccess) {
                return ResultGeneralError;
            }
            continue;
        }
        const char* keyword = GetEncodingKeyword(item->encoding);
        if (keyword != nullptr) element->SetAttributeString(HVB_WTEXT("encoding"), EWideString(keyword).GetString());
        if (!item->password.IsEmpty()) {
            element->SetAttributeString(HVB_WTEXT("password"), Wide(item->password).GetString());
        }
    }
    return ResultSuccess;
}

ResultCode TOLMAArchiveListing::ReadListing(HVBFileObject* file) {
    if (file == nullptr) return ResultGeneralError;
    const uint32_t length = file->GetLength();
    const uint32_t position = file->GetPosition();
    const uint32_t size = length != 0xFFFFFFFFu && length > position ? length - position : 0;
    EStreamBuffer bytes;
    if (size > 0) {
        void* room = bytes.GetWriteBuffer(size);
        if (room == nullptr) return ResultGeneralError;
        const uint32_t got = file->Read(room, size);
        if (got != size) return ResultGeneralError;
        bytes.CommitWrite(got);
    }
    EDescription description;
    const ResultCode read = description.ReadDescription(&bytes, 1, EDescription::EncodingShiftJIS);
    if (read != ResultSuccess) return read;
    TOLMAListingDirectory loaded;
    if (LoadFromDescription(&loaded, &description) != ResultSuccess) return ResultGeneralError;
    Clear();
    root_.InsertArray(0, loaded);
    loaded.RemoveAll();
    for (uint32_t i = 0; i < root_.GetCount(); ++i) {
        if (root_[i]->contents != nullptr) root_[i]->contents->parent_ = &root_;
    }
    return ResultSuccess;
}

ResultCode TOLMAArchiveListing::WriteListing(HVBFileObject* file) const {
    if (file == nullptr) return ResultGeneralError;
    EDescription description;
    if (StoreToDescription(&description, &root_) != ResultSuccess) return ResultGeneralError;
    return description.WriteDescription(file, 0, 1, EDescription::EncodingShiftJIS);
}

// ---- items and navigation ----------------------------------------------------------

void TOLMAArchiveListing::Clear() {
    for (uint32_t i = 0; i < root_.GetCount(); ++i) delete root_[i];
    root_.RemoveAll();
    current_ = &root_;
}

ResultCode TOLMAArchiveListing::AddFile(const char* name, uint32_t encoding, const char* password) {
    if (current_ == nullptr) return ResultGeneralError;
    auto* item = new TOLMAListingItem;
    item->name = name != nullptr ? name : "";
    item->encoding = encoding;
    item->password = password != nullptr ? password : "";
    current_->Add(item);
    return ResultSuccess;
}

ResultCode TOLMAArchiveListing::AddDirectory(const char* name) {
    if (current_ == nullptr) return ResultGeneralError;
    auto* item = new TOLMAListingItem;
    item->name = name != nullptr ? name : "";
    item->attributes = TOLMA_ATTRIBUTE_DIRECTORY;
    item->password = "";
    item->contents = new TOLMAListingDirectory(current_);
    current_->Add(item);
    return ResultSuccess;
}

ResultCode TOLMAArchiveListing::DescendDirectory(const char* name) {
    if (current_ == nullptr) return ResultGeneralError;
    TOLMAListingItem* item = current_->FindItem(name);
    if (item == nullptr) return ResultGeneralError;
    current_ = item->contents;
    return ResultSuccess;
}

ResultCode TOLMAArchiveListing::AscendDirectory() {
    if (current_ == nullptr) return ResultGeneralError;
    current_ = current_->GetParent();
    return ResultSuccess;
}

ResultCode TOLMAArchiveListing::ChangeDirectory(const char* path) {
    current_ = &root_;
    if (path == nullptr) return ResultSuccess;
    int32_t start = 0;
    for (;;) {
        const int32_t end = FindNextSeparator(path, start, "\\");
        const bool last = path[end] == 0;
        if (last && end == start) return ResultSuccess;  // nothing after the last backslash
        EString piece("");
        piece.Append(path + start, end - start);
        if (DescendDirectory(piece.GetString()) != ResultSuccess) return ResultGeneralError;
        if (last) return ResultSuccess;
        start = end + 1;
    }
}

EString TOLMAArchiveListing::GetCurrentPath() const {
    EPtrArray names;
    for (const TOLMAListingDirectory* directory = current_; directory != nullptr && directory->GetParent() != nullptr;
         directory = directory->GetParent()) {
        const TOLMAListingDirectory* parent = directory->GetParent();
        const TOLMAListingItem* found = nullptr;
        for (uint32_t i = 0; i < parent->GetCount() && found == nullptr; ++i) {
            if (parent->GetAt(i)->contents == directory) found = parent->GetAt(i);
        }
        if (found == nullptr) break;
        names.Add(const_cast<TOLMAListingItem*>(found));
    }
    EString path("");
    for (uint32_t i = names.GetCount(); i > 0; --i) {
        const EString& name = static_cast<const TOLMAListingItem*>(names.GetAt(i - 1))->name;
        path.Append(name.GetString(), static_cast<int32_t>(name.GetLength()));
        path.AppendChar('\\');
    }
    return path;
}
