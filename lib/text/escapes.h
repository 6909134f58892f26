// Text transformations for storing binary data and special characters in
// text: Base64 between byte blocks and narrow text, backslash escapes and XML
// character entities in wide strings.
#pragma once

#include <cstdint>

#include "core/result.h"
#include "text/stream_buffer.h"
#include "text/string.h"

// Standard Base64 without line breaks; the destination's text is replaced.
// 0, or 1 when the heap cannot hold the text.
ResultCode EncodeBase64(EString* destination, const void* bytes, uint32_t count);

// Appends the bytes of text to destination. Characters of 32 or less are
// skipped between groups of four (so wrapped text reads), never inside one; a
// group with padding ends the text. 1 on an invalid character or an
// incomplete group, with the bytes before it kept; else 0.
ResultCode DecodeBase64(EStreamBuffer* destination, const char* text);

// \n \r \t \v \b \a \f \? \\ \" \', up to three octal digits, or x and up to
// three hexadecimal digits; before anything else the backslash is dropped.
ResultCode UnescapeBackslashes(EWideString* text);
// Line feed, carriage return, tab and backslash become \n \r \t \\.
ResultCode EscapeBackslashes(EWideString* text);

// &lt; &gt; &quot; &amp; &nbsp; and &#DECIMAL; become their characters;
// anything else after an ampersand stays as it is.
ResultCode DecodeXmlEntities(EWideString* text);
// The five special characters become entities and code units below 32 become
// &#N;. With indent >= 0, a line feed that is not the last unit is followed
// by CR LF and indent tabs, so that multi-line text stays readable.
ResultCode EncodeXmlText(EWideString* destination, const EWideString& source, int32_t indent);
