#include "xml/description.h"

#include "xml/stream_wide_string.h"

namespace {

// Compares the code units of a (with its length) and the zero-terminated b.
int CompareUnits(const WideChar* a, uint32_t length, const WideChar* b) {
    for (uint32_t i = 0; i < length; ++i) {
        const int x = static_cast<uint16_t>(a[i]);
        const int y = static_cast<uint16_t>(b[i]);
        if (x != y) return x - y;
        if (y == 0) return 1;
    }
    return -static_cast<int>(static_cast<uint16_t>(b[length]));
}

WideChar FoldAscii(WideChar c) { return c >= 'a' && c <= 'z' ? static_cast<WideChar>(c - 'a' + 'A') : c; }

bool EqualsNoCase(const EWideString& a, const WideChar* b) {
    const WideChar* text = a.GetString();
    const uint32_t length = a.GetLength();
    for (uint32_t i = 0; i < length; ++i) {
        if (b[i] == 0 || FoldAscii(text[i]) != FoldAscii(b[i])) return false;
    }
    return b[length] == 0;
}

// The last element of a stack kept in a pointer array, removed.
void* Pop(EPtrArray* stack) {
    const uint32_t last = stack->GetCount() - 1;
    void* item = stack->GetAt(last);
    stack->RemoveAt(last);
    return item;
}

}  // namespace

EDescription::EDescription(const EDescription& other) : HVBObject(), tag_(other.tag_), contents_(other.contents_) {
    // Level by level through explicit stacks: trees from elsewhere may be
    // deeper than the stack could follow.
    EPtrArray sources;
    EPtrArray copies;
    sources.Add(const_cast<EDescription*>(&other));
    copies.Add(this);
    while (sources.GetCount() > 0) {
        const auto* source = static_cast<const EDescription*>(Pop(&sources));
        auto* copy = static_cast<EDescription*>(Pop(&copies));
        for (uint32_t i = 0; i < source->attributes_.GetCount(); ++i) {
            copy->attributes_.Add(new EDescriptionAttribute(*source->attributes_[i]));
        }
        for (uint32_t i = 0; i < source->children_.GetCount(); ++i) {
            const EDescription* child = source->children_[i];
            auto* node = new EDescription;
            node->tag_ = child->tag_;
            node->contents_ = child->contents_;
            copy->AddChild(node);
            sources.Add(const_cast<EDescription*>(child));
            copies.Add(node);
        }
    }
}

EDescription::~EDescription() { RemoveAllChildren(); }

// ---- attributes ----------------------------------------------------------------

int32_t EDescription::SearchAttribute(const WideChar* name) const {
    if (name == nullptr) name = HVB_WTEXT("");
    int32_t low = 0;
    int32_t high = static_cast<int32_t>(attributes_.GetCount()) - 1;
    while (low <= high) {
        const int32_t middle = low + (high - low) / 2;
        const EWideString& key = attributes_[static_cast<uint32_t>(middle)]->name;
        const int order = CompareUnits(key.GetString(), key.GetLength(), name);
        if (order == 0) return middle;
        if (order < 0)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return -low - 1;
}

const EWideString* EDescription::FindAttribute(const WideChar* name) const {
    const int32_t index = SearchAttribute(name);
    return index >= 0 ? &attributes_[static_cast<uint32_t>(index)]->value : nullptr;
}

EWideString EDescription::GetAttributeString(const WideChar* name, const WideChar* default_value) const {
    const EWideString* value = FindAttribute(name);
    return value != nullptr ? *value : EWideString(default_value);
}

int32_t EDescription::GetAttributeInteger(const WideChar* name, int32_t default_value) const {
    const EWideString* value = FindAttribute(name);
    if (value == nullptr) return default_value;
    EStreamWideString scan(*value);
    const int radix = scan.DetectRadix();
    if (radix < 0) return default_value;
    return scan.ReadInteger32(radix == 0 ? 10 : radix);
}

double EDescription::GetAttributeReal(const WideChar* name, double default_value) const {
    const EWideString* value = FindAttribute(name);
    if (value == nullptr) return default_value;
    EStreamWideString scan(*value);
    const int radix = scan.DetectRadix();
    if (radix < 0) return default_value;
    return static_cast<double>(scan.ReadReal(radix == 0 ? 10 : radix));
}

void EDescription::SetAttribute(const EWideString& name, const EWideString& value) {
    const int32_t index = SearchAttribute(name.GetString() != nullptr ? name.GetString() : HVB_WTEXT(""));
    if (index >= 0) {
        attributes_[static_cast<uint32_t>(index)]->value = value;
        return;
    }
    auto* attribute = new EDescriptionAttribute;
    attribute->name = name;
    attribute->value = value;
    if (!attributes_.InsertAt(static_cast<uint32_t>(-index - 1), attribute)) delete attribute;
}

void EDescription::AdoptAttribute(EDescriptionAttribute* attribute) {
    const int32_t index =
        SearchAttribute(attribute->name.GetString() != nullptr ? attribute->name.GetString() : HVB_WTEXT(""));
    if (index >= 0) {
        attributes_[static_cast<uint32_t>(index)]->value = attribute->value;
        delete attribute;
        return;
    }
    if (!attributes_.InsertAt(static_cast<uint32_t>(-index - 1), attribute)) delete attribute;
}

void EDescription::SetAttributeString(const WideChar* name, const WideChar* text) {
    SetAttribute(EWideString(name != nullptr ? name : HVB_WTEXT("")), EWideString(text != nullptr ? text : HVB_WTEXT("")));
}

void EDescription::SetAttributeInteger(const WideChar* name, int32_t value) {
    SetAttribute(EWideString(name != nullptr ? name : HVB_WTEXT("")), EWideString(value, 0));
}

void EDescription::SetAttributeReal(const WideChar* name, double value) {
    SetAttribute(EWideString(name != nullptr ? name : HVB_WTEXT("")), EWideString(value, 0));
}

EWideString EDescription::GetAttributeName(uint32_t index) const {
    return index < attributes_.GetCount() ? attributes_[index]->name : EWideString(HVB_WTEXT(""));
}

EWideString EDescription::GetAttributeValue(uint32_t index) const {
    return index < attributes_.GetCount() ? attributes_[index]->value : EWideString(HVB_WTEXT(""));
}

void EDescription::RemoveAttribute(uint32_t index) {
    if (index >= attributes_.GetCount()) return;
    delete attributes_[index];
    attributes_.RemoveAt(index);
}

void EDescription::RemoveAttribute(const WideChar* name) {
    const int32_t index = SearchAttribute(name);
    if (index >= 0) RemoveAttribute(static_cast<uint32_t>(index));
}

void EDescription::RemoveAllAttributes() {
    for (uint32_t i = 0; i < attributes_.GetCount(); ++i) delete attributes_[i];
    attributes_.RemoveAll();
}

// ---- children ------------------------------------------------------------------

EDescription* EDescription::GetChildAt(int32_t index) const {
    return index >= 0 ? children_.GetAt(static_cast<uint32_t>(index)) : nullptr;
}

int32_t EDescription::FindChildIndex(int32_t start, const WideChar* tag) const {
    for (uint32_t i = start < 0 ? 0 : static_cast<uint32_t>(start); i < children_.GetCount(); ++i) {
        const EWideString& own = children_[i]->tag_;
        if (tag == nullptr ? own.IsEmpty() : EqualsNoCase(own, tag)) return static_cast<int32_t>(i);
    }
    return -1;
}

EDescription* EDescription::FindChild(int32_t start, const WideChar* tag, int32_t* next) const {
    const int32_t index = FindChildIndex(start, tag);
    if (next != nullptr) *next = index >= 0 ? index + 1 : -1;
    return GetChildAt(index);
}

EDescription* EDescription::FindChildWithAttribute(int32_t start, const WideChar* name, const WideChar* value,
                                                   const WideChar* tag, int32_t* next) const {
    if (value == nullptr) value = HVB_WTEXT("");
    for (int32_t index = FindChildIndex(start, tag); index >= 0; index = FindChildIndex(index + 1, tag)) {
        const EWideString* own = children_[static_cast<uint32_t>(index)]->FindAttribute(name);
        if (own != nullptr && CompareUnits(own->GetString(), own->GetLength(), value) == 0) {
            if (next != nullptr) *next = index + 1;
            return children_[static_cast<uint32_t>(index)];
        }
    }
    if (next != nullptr) *next = -1;
    return nullptr;
}

EDescription* EDescription::GetOrCreateChild(int32_t start, const WideChar* tag) {
    EDescription* child = FindChild(start, tag);
    if (child != nullptr) return child;
    child = new EDescription;
    child->tag_ = tag != nullptr ? tag : HVB_WTEXT("");
    AddChild(child);
    return child;
}

void EDescription::AddChild(EDescription* node) { InsertChild(static_cast<int32_t>(children_.GetCount()), node); }

void EDescription::InsertChild(int32_t index, EDescription* node) {
    if (node == nullptr) return;
    const uint32_t count = children_.GetCount();
    const uint32_t at = index < 0 ? 0 : static_cast<uint32_t>(index) > count ? count : static_cast<uint32_t>(index);
    if (!children_.InsertAt(at, node)) {
        delete node;
        return;
    }
    node->parent_ = this;
}

void EDescription::RemoveChild(int32_t index) {
    EDescription* child = GetChildAt(index);
    if (child == nullptr) return;
    children_.RemoveAt(static_cast<uint32_t>(index));
    delete child;
}

void EDescription::RemoveAllChildren() {
    // Deleting a node deletes what is still below it, so every node is
    // emptied before it goes: no recursion, however deep the tree.
    EPtrArray pending;
    pending.InsertArray(0, children_);
    children_.RemoveAll();
    while (pending.GetCount() > 0) {
        auto* node = static_cast<EDescription*>(Pop(&pending));
        pending.InsertArray(pending.GetCount(), node->children_);
        node->children_.RemoveAll();
        delete node;
    }
}

EWideString EDescription::GetChildContents(const WideChar* tag, const WideChar* default_value) const {
    const EDescription* node = tag != nullptr ? FindChild(0, tag) : this;
    const EDescription* first = node != nullptr ? node->GetChildAt(0) : nullptr;
    if (first != nullptr && first->IsTextNode()) return first->contents_;
    return EWideString(default_value);
}

int32_t EDescription::SetChildContents(const WideChar* tag, const WideChar* text) {
    EDescription* node = tag != nullptr ? GetOrCreateChild(0, tag) : this;
    EDescription* first = node->GetChildAt(0);
    if (first == nullptr) {
        first = new EDescription;
        node->InsertChild(0, first);
    } else if (!first->IsTextNode()) {
        return 1;
    }
    first->contents_ = text != nullptr ? text : HVB_WTEXT("");
    return 0;
}
