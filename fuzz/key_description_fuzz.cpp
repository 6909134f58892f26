// Bytes as an XML key-assignment description: read into an input filter,
// saved again and read back.
#include "fuzz_target.h"
#include "text/stream_buffer.h"
#include "window/input_filter.h"
#include "xml/description.h"

HVB_FUZZ_TARGET(key_description) {
    hvb_fuzz::Reader in(data, size);
    const int32_t encoding = in.Byte() % 3;
    EStreamBuffer stream(in.data(), static_cast<uint32_t>(in.size()));
    EDescription root;
    if (root.ReadDescription(&stream, 0, encoding) != ResultSuccess) return;
    // The description is the document's first element, as a program keeps it.
    const EDescription* element = root.GetChildCount() != 0 ? root.GetChildAt(0) : &root;
    EInputFilter filter;
    filter.LoadDescription(element);
    EDescription saved;
    filter.SaveDescription(&saved);
    EInputFilter again;
    again.LoadDescription(&saved);
}
