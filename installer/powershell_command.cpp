#include "installer/powershell_command.h"

namespace {

// A failing command stops the script, which then exits with 1 and its error.
const wchar_t kOptions[] =
    L" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command \"$ErrorActionPreference = 'Stop'; ";
const int kMostValues = 9;

// Appends to a buffer of fixed capacity; once something did not fit, every
// later append fails too.
class Output {
public:
    Output(wchar_t* buffer, std::size_t capacity) : buffer_(buffer), capacity_(capacity) {}
    void Put(wchar_t c)
    {
        if (used_ + 1 < capacity_)
            buffer_[used_++] = c;
        else
            full_ = true;
    }
    void Put(const wchar_t* text, std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i) Put(text[i]);
    }
    bool Finish()
    {
        if (capacity_ == 0) return false;
        buffer_[full_ ? 0 : used_] = L'\0';
        return !full_;
    }

private:
    wchar_t* buffer_;
    std::size_t capacity_;
    std::size_t used_ = 0;
    bool full_ = false;
};

struct Field {
    const wchar_t* text;
    std::size_t length;
};

// A drive or a share, and nothing that would end the quotes around it.
bool IsFullPath(const Field& path)
{
    const wchar_t* p = path.text;
    const bool drive = path.length > 3 && ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z')) &&
                       p[1] == L':' && p[2] == L'\\';
    if (!drive && !(path.length > 2 && p[0] == L'\\' && p[1] == L'\\')) return false;
    for (std::size_t i = 0; i < path.length; ++i)
        if (p[i] == L'"') return false;
    return true;
}

// PowerShell takes the typographic single quotes for quotes as well.
bool IsSingleQuote(wchar_t c) { return c == L'\'' || (c >= 0x2018 && c <= 0x201B); }

// A single-quoted literal: every quote inside is doubled, and nothing in it
// is read as code. A quotation mark would end the command line's argument.
bool PutLiteral(Output& out, const Field& value)
{
    out.Put(L'\'');
    for (std::size_t i = 0; i < value.length; ++i) {
        const wchar_t c = value.text[i];
        if (c == L'"') return false;
        if (IsSingleQuote(c)) out.Put(c);
        out.Put(c);
    }
    out.Put(L'\'');
    return true;
}

bool Refuse(wchar_t* commandLine, std::size_t capacity)
{
    if (capacity > 0) commandLine[0] = L'\0';
    return false;
}

}  // namespace

bool ComposePowerShellCommand(const wchar_t* actionData, wchar_t* commandLine, std::size_t capacity)
{
    Field fields[2 + kMostValues];
    int count = 0;
    const wchar_t* start = actionData;
    for (const wchar_t* at = actionData;; ++at) {
        if (*at != L'\t' && *at != L'\0') continue;
        if (count == 2 + kMostValues) return Refuse(commandLine, capacity);
        fields[count++] = {start, static_cast<std::size_t>(at - start)};
        if (*at == L'\0') break;
        start = at + 1;
    }

    if (count < 2 || !IsFullPath(fields[0])) return Refuse(commandLine, capacity);

    Output out(commandLine, capacity);
    out.Put(L'"');
    out.Put(fields[0].text, fields[0].length);
    out.Put(L'"');
    out.Put(kOptions, sizeof kOptions / sizeof kOptions[0] - 1);
    const Field& script = fields[1];
    for (std::size_t i = 0; i < script.length; ++i) {
        const wchar_t c = script.text[i];
        const int index = i + 1 < script.length ? script.text[i + 1] - L'0' : -1;
        if (c == L'%' && index >= 1 && index <= kMostValues) {
            if (index + 1 >= count || !PutLiteral(out, fields[index + 1])) return Refuse(commandLine, capacity);
            ++i;
        } else {
            // The script is the package's own; a quotation mark would end it.
            if (c == L'"') return Refuse(commandLine, capacity);
            out.Put(c);
        }
    }
    out.Put(L'"');
    return out.Finish();
}

std::size_t QuotedProgramLength(const wchar_t* commandLine)
{
    std::size_t length = 0;
    if (commandLine[0] != L'"') return 0;
    while (commandLine[1 + length] != L'\0' && commandLine[1 + length] != L'"') ++length;
    return commandLine[1 + length] == L'"' ? length : 0;
}
