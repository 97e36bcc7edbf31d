// The release-list scanners: one state machine per page layout, one CSV line per book.
#include "lists/release_list.h"

#include <utility>

#include "lists/literal.h"
#include "lists/output_file.h"
#include "platform/memory.h"
#include "platform/routes.h"
#include "platform/scoped.h"
#include "platform/text.h"

namespace {

constexpr WCHAR kIdeographicSpace = 0x3000;
constexpr WCHAR kBackslash = 0x005C;

constexpr int kFieldCount = 5;
// Year prefix "%04d/", up to 6 date characters and the terminator.
constexpr SIZE_T kDateBufferSize = 12;
// A record line holds at most 999 characters; a longer one is cut, as the trace line is,
// so that a page with a runaway field still gives its other records.
constexpr SIZE_T kLineBufferSize = 1000;

// ListParseState. A field after the date is read in a state X (one of 300 to 800)
// and X + 10 after one U+3000; an error state is the negative of the state it
// happened in.
constexpr int kSeekMarker = 100;
constexpr int kSeekEntry = 200;
constexpr int kDate = 210;
constexpr int kDateSeparator = 220;
constexpr int kEntryEnd = 1000;
constexpr int kFinished = 10000;

// A literal with its length, so that the scan passes over a match at once.
struct Literal {
  LPCWSTR text;
  SIZE_T length;
};

template <SIZE_T N>
consteval Literal MakeLiteral(const WCHAR (&text)[N]) {
  return Literal{text, N - 1};
}

constexpr Literal kListMarker = MakeLiteral(TEXT("件を表示します。"));
constexpr Literal kEntryOpen = MakeLiteral(TEXT("<li>"));
constexpr Literal kEntryClose = MakeLiteral(TEXT("</li>"));
constexpr Literal kTableClose = MakeLiteral(TEXT("</table>"));

// Position of the next `c` at or behind `cursor`, or of the terminator when there
// is none. Lets a state whose only way out starts with `c` pass over the rest in
// one go.
SIZE_T NextOf(LPCWSTR text, SIZE_T cursor, WCHAR c) {
  while (text[cursor] != c && text[cursor] != 0) ++cursor;
  return cursor;
}

struct FieldRule {
  int state;                   // X: reading the field; X + 10 after one U+3000
  int next;                    // the state after its capture
  bool dropsLeadingBackslash;  // the price: one leading U+005C is not kept
};

// What sets one list's parser apart from the other's.
struct ListLayout {
  LPCWSTR header;
  FieldRule fields[kFieldCount];  // fields after the date: page order is column order
  Literal entryEnd;               // tested first in state 1000; writes the pending record
  int stateAfterEntryEnd;         // 200 looks for the next entry, 210 has opened it
  bool tableEndWritesPending;     // "</table>" in state 1000 writes the record, else drops it
};

constexpr ListLayout kComicLayout = {
    TEXT("date,company,title,author,price,memo"),
    {{300, 500, false}, {500, 600, false}, {600, 700, false}, {700, 800, true}, {800, 1000, false}},
    kEntryClose,
    kSeekEntry,
    false,
};

// A paperback entry ends where the next "<li>" opens the following one.
constexpr ListLayout kBunkoLayout = {
    TEXT("date,company,category,title,author,price"),
    {{300, 400, false}, {400, 500, false}, {500, 600, false}, {600, 700, false}, {700, 1000, true}},
    kEntryOpen,
    kDate,
    true,
};

// State 1000 looks for the next '<' only: both of its tags must begin with one.
static_assert(kComicLayout.entryEnd.text[0] == u'<' && kBunkoLayout.entryEnd.text[0] == u'<' &&
              kTableClose.text[0] == u'<');

class ListScanner {
 public:
  ListScanner(const ListLayout& layout, LPCWSTR text, HANDLE file)
      : layout_(layout), text_(text), file_(file) {}

  // Writes the header, puts the year prefix in the date buffer, scans the whole text and
  // returns the result of the parser.
  int Run(WORD year) {
    if (WriteLine(file_, layout_.header) != kLineWritten) writeFailed_ = true;

    StringCchPrintfW(date_, kDateBufferSize, TEXT("%04d/"), static_cast<int>(year));
    prefixLength_ = wcslen(date_);

    const int state = Scan();
    // A missing line makes the file incomplete, whatever the scan ended in.
    if (writeFailed_) return kListWriteFailed;
    return state < 0 ? kListStoppedInError : kListParsed;
  }

 private:
  // One forward pass, ended by the terminator (so the text is not measured first),
  // a negative state or the finished state; returns the state it ended in.
  int Scan() {
    int state = kSeekMarker;
    SIZE_T fieldStart = 0;
    for (SIZE_T cursor = 0; text_[cursor] != 0 && state >= kSeekMarker && state != kFinished;
         ++cursor) {
      switch (state) {
        case kSeekMarker:
          cursor = NextOf(text_, cursor, kListMarker.text[0]);
          if (text_[cursor] == 0) return state;
          if (LiteralAt(text_, cursor, kListMarker.text)) {
            cursor += kListMarker.length - 1;
            state = kSeekEntry;
          }
          break;
        case kSeekEntry:
          cursor = NextOf(text_, cursor, kEntryOpen.text[0]);
          if (text_[cursor] == 0) return state;
          if (LiteralAt(text_, cursor, kEntryOpen.text)) {
            fieldStart = cursor + kEntryOpen.length;
            cursor = fieldStart - 1;
            state = kDate;
          }
          break;
        case kDate:
          cursor = NextOf(text_, cursor, kIdeographicSpace);
          if (text_[cursor] == 0) return state;
          state = kDateSeparator;
          break;
        case kDateSeparator:
          if (text_[cursor] != kIdeographicSpace) {
            state = -kDateSeparator;
            break;
          }
          CaptureDate(fieldStart, cursor);
          fieldStart = cursor + 1;
          state = layout_.fields[0].state;
          break;
        case 300:
        case 400:
        case 500:
        case 600:
        case 700:
        case 800:
          cursor = NextOf(text_, cursor, kIdeographicSpace);
          if (text_[cursor] == 0) return state;
          state += 10;
          break;
        case 310:
        case 410:
        case 510:
        case 610:
        case 710:
        case 810:
          if (text_[cursor] != kIdeographicSpace) {
            state -= 10;  // the single U+3000 stays in the field
            break;
          }
          state = CaptureField(state, fieldStart, cursor);
          fieldStart = cursor + 1;
          break;
        case kEntryEnd:
          // Both tags of this state begin with '<'.
          cursor = NextOf(text_, cursor, kEntryOpen.text[0]);
          if (text_[cursor] == 0) return state;
          if (LiteralAt(text_, cursor, layout_.entryEnd.text)) {
            WriteRecord();
            fieldStart = cursor + layout_.entryEnd.length;
            cursor = fieldStart - 1;
            state = layout_.stateAfterEntryEnd;
          } else if (LiteralAt(text_, cursor, kTableClose.text)) {
            if (layout_.tableEndWritesPending) WriteRecord();
            state = kFinished;
          }
          break;
      }
    }
    return state;
  }

  // The date is the text from the field start to the character before the first
  // U+3000 of the separator at `cursor`; kept behind the year prefix, cut to what
  // the buffer holds (6 characters behind a four-digit year, 5 behind a five-digit one).
  void CaptureDate(SIZE_T fieldStart, SIZE_T cursor) {
    SIZE_T count = cursor - fieldStart - 1;
    const SIZE_T room = kDateBufferSize - 1 - prefixLength_;
    if (count > room) count = room;
    wcsncpy(date_ + prefixLength_, text_ + fieldStart, count);
    date_[prefixLength_ + count] = 0;
  }

  // Captures the field read in `state` (X + 10) into a string of its exact length.
  // Returns the state that follows, or the error state when there is no memory.
  int CaptureField(int state, SIZE_T fieldStart, SIZE_T cursor) {
    int index = 0;
    while (layout_.fields[index].state != state - 10) ++index;
    const FieldRule& rule = layout_.fields[index];
    if (rule.dropsLeadingBackslash && text_[fieldStart] == kBackslash) ++fieldStart;
    const SIZE_T count = cursor - fieldStart - 1;
    auto field = platform::LocalAllocArray<WCHAR>(count + 1);
    if (!field) return -state;
    wcsncpy(field.get(), text_ + fieldStart, count);
    field[count] = 0;
    fields_[index] = std::move(field);
    return rule.next;
  }

  // Writes the pending record, then cuts the date back to the year prefix and
  // releases the field strings.
  void WriteRecord() {
    // An entry reaches its end only once all its fields are captured.
    StringCchPrintfW(line_, kLineBufferSize, TEXT("%s,%s,%s,%s,%s,%s"), date_, fields_[0].get(),
                     fields_[1].get(), fields_[2].get(), fields_[3].get(), fields_[4].get());
    if (WriteLine(file_, line_) != kLineWritten) writeFailed_ = true;
    date_[prefixLength_] = 0;
    for (auto& field : fields_) field.reset();
  }

  const ListLayout& layout_;
  LPCWSTR text_;
  HANDLE file_;
  WCHAR date_[kDateBufferSize] = {};
  SIZE_T prefixLength_ = 0;
  WCHAR line_[kLineBufferSize] = {};
  platform::LocalPtr<WCHAR[]> fields_[kFieldCount];
  bool writeFailed_ = false;
};

// The file takes the place of an existing one once the scan has ended, also when it
// stopped in error: the records before the stop are the result. A line that was not
// written leaves the old file as it was.
int ParseList(const ListLayout& layout, LPCWSTR text, LPCWSTR outputPath, WORD year) {
  PendingOutputFile file(outputPath);
  if (!file.valid()) return kListFileNotCreated;
  ListScanner scanner(layout, text ? text : TEXT(""), file.handle());
  const int result = scanner.Run(year);
  if (result == kListWriteFailed) return result;
  return file.Commit() ? result : kListFileNotCreated;
}

}  // namespace

int ParseComicList(LPCWSTR text, LPCWSTR outputPath, WORD year) {
  return ParseList(kComicLayout, text, outputPath, year);
}

int ParseBunkoList(LPCWSTR text, LPCWSTR outputPath, WORD year) {
  return ParseList(kBunkoLayout, text, outputPath, year);
}
