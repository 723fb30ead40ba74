#include "study/input/sample_table.h"

#include "core/numtext.h"

#include <csv.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>

namespace temra::study {

namespace {

// The delimiters of the first row, outside quotes.
struct Delimiters {
    std::size_t tabs = 0, semicolons = 0, commas = 0;
};

Delimiters FirstRowDelimiters(std::string_view text) {
    Delimiters d;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\n' || c == '\r') break;
        d.tabs += c == '\t';
        d.semicolons += c == ';';
        d.commas += c == ',';
    }
    return d;
}

// The delimiter the first row holds most of (a tab wins a tie, then the
// semicolon), and the fields it then has.
char DetectDelimiter(const Delimiters& d) {
    if (d.tabs > 0 && d.tabs >= d.semicolons && d.tabs >= d.commas) return '\t';
    if (d.semicolons > 0 && d.semicolons >= d.commas) return ';';
    return ',';
}

std::size_t FieldsOf(const Delimiters& d, char delimiter) {
    return 1 + (delimiter == '\t' ? d.tabs : delimiter == ';' ? d.semicolons : d.commas);
}

// Only blanks are trimmed from unquoted fields: a tab may be the delimiter.
int IsBlank(unsigned char c) {
    return c == ' ' ? 1 : 0;
}

// The length of the valid UTF-8 sequence that begins `text` (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF), or 0.
std::size_t Utf8Length(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

// What keeps a field from being text: a NUL byte, or bytes that are not UTF-8;
// empty when it is text.
std::string NotText(std::string_view field) {
    for (std::size_t i = 0; i < field.size();) {
        if (field[i] == '\0')
            return "holds a NUL byte (character 0): the file is not a table of text, or is "
                   "damaged";
        const std::size_t length = Utf8Length(field.substr(i));
        if (length == 0) {
            static const char* const kHex = "0123456789ABCDEF";
            const auto b = static_cast<unsigned char>(field[i]);
            return "is not UTF-8 text (its byte " + std::to_string(i + 1) + " is 0x" +
                   kHex[b >> 4] + kHex[b & 15] +
                   "): the table is in another encoding, such as Windows-1252; save it as UTF-8 "
                   "(in a spreadsheet program: CSV UTF-8)";
        }
        i += length;
    }
    return {};
}

// The encoding of a text that begins with the byte-order mark of UTF-16 or UTF-32,
// or whose first bytes are NULs in their pattern (a quarter of them or more, at
// the places ASCII characters leave them); empty for any other text.
std::string WideEncoding(std::string_view text) {
    const auto begins = [&text](std::string_view mark) {
        return text.substr(0, mark.size()) == mark;
    };
    using namespace std::string_view_literals;
    if (begins("\xFF\xFE\0\0"sv)) return "UTF-32 (little-endian)";
    if (begins("\0\0\xFE\xFF"sv)) return "UTF-32 (big-endian)";
    if (begins("\xFF\xFE"sv)) return "UTF-16 (little-endian)";
    if (begins("\xFE\xFF"sv)) return "UTF-16 (big-endian)";
    const std::size_t looked = std::min<std::size_t>(text.size(), 256) / 4 * 4;
    std::array<std::size_t, 4> nuls{}; // by place within four bytes
    for (std::size_t i = 0; i < looked; ++i) nuls[i % 4] += text[i] == '\0';
    if (looked == 0 || 4 * (nuls[0] + nuls[1] + nuls[2] + nuls[3]) < looked) return {};
    if (nuls[0] == 0 && nuls[1] > 0 && nuls[2] > 0 && nuls[3] > 0) return "UTF-32 (little-endian)";
    if (nuls[3] == 0 && nuls[0] > 0 && nuls[1] > 0 && nuls[2] > 0) return "UTF-32 (big-endian)";
    if (nuls[0] + nuls[2] == 0) return "UTF-16 (little-endian)";
    if (nuls[1] + nuls[3] == 0) return "UTF-16 (big-endian)";
    return {};
}

// The heap block of an allocation of n bytes: malloc's header of 8 bytes, in
// steps of 16.
constexpr std::uint64_t HeapBlock(std::uint64_t n) {
    return (n + 8 + 15) / 16 * 16;
}

// The elements a full vector grows to: the next power of two.
std::size_t GrownCapacity(std::size_t capacity) {
    return std::bit_ceil(capacity + 1);
}

// The bytes of a vector's array after one more element: when it is full, the new
// array is made while the old one still exists.
template <typename T> std::uint64_t GrowthBytes(const std::vector<T>& v) {
    return v.size() < v.capacity() ? 0 : GrownCapacity(v.capacity()) * sizeof(T);
}

// Reads a table from pieces of text and counts, as it grows, the memory it holds:
// every stored field (its std::string and, when the text does not fit in the
// string itself, the heap block of its text), the arrays of the rows and of the
// fields of the row being read, the text held until the first row is complete,
// and libcsv's buffer of the field being read. Once a field would take it past
// the budget, nothing more is stored, and the read ends saying on which row and
// by what (a row's many fields, a long field, the rows before). libcsv's
// callbacks never throw.
class Reader {
  public:
    explicit Reader(std::uint64_t budget) : budget_(budget) {}
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
    ~Reader() {
        if (parser_) csv_free(parser_.get());
    }

    void Feed(std::string_view piece) {
        if (parser_) return Parse(piece);
        // The first row is read whole before the delimiter is chosen from it: its
        // text is held until its end arrives.
        const std::size_t end = FirstRowEnd(piece);
        if (end == std::string_view::npos) return Hold(piece);
        if (head_.empty()) return Start(piece);
        Hold(piece.substr(0, end + 1));
        Start(head_);
        head_ = std::string(); // parsed: its memory goes back
        Parse(piece.substr(end + 1));
    }

    SampleTable Finish() {
        if (!parser_) Start(head_);
        // At the end a quoted field still open is refused: it would hold the rest
        // of the file. (The parse itself is lenient: a quote within an unquoted
        // field is kept as typed.)
        csv_set_opts(parser_.get(), static_cast<unsigned char>(csv_get_opts(parser_.get()) |
                                                               CSV_STRICT | CSV_STRICT_FINI));
        const std::size_t openRow = rowNumber_ + 1, openColumn = row_.size() + 1;
        if (csv_fini(parser_.get(), OnField, OnRow, this) != 0) {
            if (!full_ && refused_.empty() && csv_error(parser_.get()) == CSV_EPARSE)
                throw TableError("the quote that opens " + Place(openRow, openColumn) +
                                     " is never closed, so the rest of the table would be "
                                     "read into that field; close the quote, or write a quote "
                                     "within quotes as two (\"\")",
                                 At(openRow, openColumn));
            Fail();
        }
        if (full_ || !refused_.empty()) Fail();
        if (table_.header.empty()) throw TableError("the table is empty");
        return std::move(table_);
    }

  private:
    static const std::uint64_t kInPlace; // the text a std::string holds in itself

    std::uint64_t Held() const {
        return stored_ + row_.capacity() * sizeof(std::string) + rowText_ + parserBytes_ +
               head_.capacity();
    }
    bool Fits(std::uint64_t more) const { return Held() + more <= budget_; }

    // What took the reader past its budget, for the message.
    enum class Cause {
        FirstRowText, // the text of the first row, held until it is complete
        Fields,       // the fields of a row: `fields` of them (more: it was still growing)
        LongField,    // one field's text
        Rows,         // the rows read so far
    };

    // The budget is reached on the row being read: nothing more is stored.
    void MarkFull(std::uint64_t more, Cause cause, std::size_t fields = 0) {
        full_ = true;
        need_ = Held() + more;
        cause_ = cause;
        fullRow_ = rowNumber_ + 1;
        fullFields_ = fields;
    }

    // The cause of a refused field: the room made for the expected fields of the
    // first row, a row that grows past them, a long text, or the rows before.
    Cause FieldCause(bool reserve, std::size_t length) const {
        if (reserve) return table_.header.empty() ? Cause::Fields : Cause::Rows;
        if (row_.size() == row_.capacity() && row_.size() >= width_) return Cause::Fields;
        return length > kInPlace * 1024 ? Cause::LongField : Cause::Rows;
    }

    // A field's place: its row and column, with the column's name where the
    // header gives one.
    std::string Place(std::size_t row, std::size_t column) const {
        std::string place = "row " + std::to_string(row) + ", column " + std::to_string(column);
        if (row > 1 && column <= table_.header.size())
            place += " (\"" + EchoText(table_.header[column - 1]) + "\")";
        return place;
    }

    // A field's place as a refusal names it.
    Culprit At(std::size_t row, std::size_t column) const {
        return {.row = row,
                .column = column,
                .columnName = row > 1 && column <= table_.header.size() ? table_.header[column - 1]
                                                                        : std::string()};
    }

    [[noreturn]] void Fail() {
        if (!refused_.empty()) throw TableError(refused_, refusedAt_);
        if (!full_)
            throw TableError(std::string("the table cannot be read: ") +
                             csv_strerror(csv_error(parser_.get())));
        // No room at all is the process's limits, not the table's fault.
        if (budget_ == 0)
            throw TableError("the table cannot be read: it needs memory, " + RoomText(0));
        const std::string needs = "needs about " + ByteText(static_cast<double>(need_)) + ", " +
                                  RoomText(static_cast<double>(budget_));
        const std::string row = "row " + std::to_string(fullRow_);
        switch (cause_) {
        case Cause::FirstRowText:
            throw TableError("the first row of the table alone " + needs);
        case Cause::Fields:
            throw TableError("the table has " +
                             std::string(fullFields_ > width_ ? "more than " : "") +
                             std::to_string(fullFields_ > width_ ? fullFields_ - 1 : fullFields_) +
                             " fields on " + row + " and by then " + needs);
        case Cause::LongField:
            throw TableError("a field on " + row + " is so long that the table " + needs);
        case Cause::Rows:
            break;
        }
        throw TableError("by " + row + " the table " + needs);
    }

    // Where the first row ends in the next piece of text (npos: beyond it); the
    // text is looked at once, piece by piece.
    std::size_t FirstRowEnd(std::string_view piece) {
        for (std::size_t i = 0; i < piece.size(); ++i) {
            if (piece[i] == '"') quoted_ = !quoted_;
            if (!quoted_ && (piece[i] == '\n' || piece[i] == '\r')) return i;
        }
        return std::string_view::npos;
    }

    void Hold(std::string_view piece) {
        // The text held grows into a new block while the old one still exists.
        const std::uint64_t more = head_.size() + piece.size();
        if (!Fits(more)) {
            MarkFull(more, Cause::FirstRowText);
            Fail();
        }
        head_.append(piece);
    }

    // `text` begins the table and holds its first row.
    void Start(std::string_view text) {
        if (const std::string wide = WideEncoding(text); !wide.empty())
            throw TableError("the file is " + wide +
                             " text, which Temra does not read; save it as UTF-8 (in a "
                             "spreadsheet program: CSV UTF-8)");
        // A byte-order mark of a file saved by a spreadsheet program is no column name.
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        const Delimiters first = FirstRowDelimiters(text);
        table_.delimiter = DetectDelimiter(first);
        width_ = FieldsOf(first, table_.delimiter);
        parser_ = std::make_unique<csv_parser>();
        if (csv_init(parser_.get(), CSV_APPEND_NULL) != 0) {
            parser_.reset();
            throw TableError("the table reader cannot be started");
        }
        csv_set_delim(parser_.get(), static_cast<unsigned char>(table_.delimiter));
        csv_set_space_func(parser_.get(), IsBlank);
        csv_set_realloc_func(parser_.get(), CountedRealloc);
        Parse(text);
    }

    void Parse(std::string_view piece) {
        Reader* const outer = current_;
        current_ = this;
        const std::size_t parsed =
            csv_parse(parser_.get(), piece.data(), piece.size(), OnField, OnRow, this);
        current_ = outer;
        if (full_ || !refused_.empty() || parsed != piece.size()) Fail();
    }

    static void OnField(void* data, std::size_t length, void* context) {
        auto* r = static_cast<Reader*>(context);
        if (r->full_ || !r->refused_.empty()) return;
        // Every field is UTF-8 text without NUL bytes: a NUL would end the text
        // wherever it is read as a C string.
        const std::string notText = NotText(
            std::string_view(data ? static_cast<const char*>(data) : "", data ? length : 0));
        if (!notText.empty()) {
            try {
                r->refused_ = r->Place(r->rowNumber_ + 1, r->row_.size() + 1) + " " + notText;
                r->refusedAt_ = r->At(r->rowNumber_ + 1, r->row_.size() + 1);
            } catch (...) { // out of memory for the message: said as the budget is
                r->MarkFull(0, Cause::Rows);
            }
            return;
        }
        // A row begins with room for the fields a row is expected to have; past
        // them its array grows.
        const bool reserve = r->row_.empty() && r->row_.capacity() < r->width_;
        const std::uint64_t text = length > kInPlace ? HeapBlock(length + 1) : 0;
        const std::uint64_t more =
            text + (reserve ? r->width_ * sizeof(std::string) : GrowthBytes(r->row_));
        const std::size_t fields = reserve ? r->width_ : r->row_.size() + 1;
        if (!r->Fits(more)) return r->MarkFull(more, r->FieldCause(reserve, length), fields);
        try {
            if (reserve) r->row_.reserve(r->width_);
            if (r->row_.size() == r->row_.capacity())
                r->row_.reserve(GrownCapacity(r->row_.capacity()));
            r->row_.emplace_back(data ? static_cast<const char*>(data) : "", data ? length : 0);
            r->rowText_ += text;
        } catch (...) { // out of memory all the same: said as the budget is
            r->MarkFull(more, r->FieldCause(reserve, length), fields);
        }
    }

    static void OnRow(int, void* context) {
        auto* r = static_cast<Reader*>(context);
        ++r->rowNumber_;
        if (r->full_ || !r->refused_.empty()) return;
        const bool blank = std::all_of(r->row_.begin(), r->row_.end(),
                                       [](const std::string& f) { return f.empty(); });
        if (!blank) {
            try {
                r->Store();
            } catch (...) {
                r->MarkFull(0, Cause::Rows);
            }
        }
        r->row_.clear();
        r->rowText_ = 0;
    }

    // The row read goes to the table with its array when it fills it or has grown
    // past the expected fields (a copy would need as much again), else in an
    // array of its own size (the array of the row being read is kept for the
    // next).
    void Store() {
        const bool header = table_.header.empty() && table_.rows.empty();
        const bool whole = row_.size() == row_.capacity() || row_.size() > width_;
        const std::uint64_t array = (whole ? row_.capacity() : row_.size()) * sizeof(std::string);
        std::uint64_t more = whole ? 0 : array;
        if (!header) more += GrowthBytes(table_.rows) + GrowthBytes(table_.rowNumbers);
        if (!Fits(more)) return MarkFull(more, header ? Cause::Fields : Cause::Rows, row_.size());
        std::vector<std::string> fields;
        if (whole) {
            fields.swap(row_);
        } else {
            fields.assign(std::make_move_iterator(row_.begin()),
                          std::make_move_iterator(row_.end()));
        }
        stored_ += array + rowText_;
        if (header) {
            table_.header = std::move(fields);
            width_ = table_.header.size();
            return;
        }
        const auto rowsBefore = table_.rows.capacity();
        const auto numbersBefore = table_.rowNumbers.capacity();
        table_.rows.push_back(std::move(fields));
        table_.rowNumbers.push_back(rowNumber_);
        stored_ += (table_.rows.capacity() - rowsBefore) * sizeof(std::vector<std::string>) +
                   (table_.rowNumbers.capacity() - numbersBefore) * sizeof(std::size_t);
    }

    // libcsv's buffer for the field being read, counted; refused past the budget
    // (libcsv then stops with CSV_ENOMEM).
    static void* CountedRealloc(void* block, std::size_t size) {
        Reader* r = current_;
        if (r && !r->full_ && !r->Fits(size)) {
            r->MarkFull(size, Cause::LongField);
            return nullptr;
        }
        if (r && r->full_) return nullptr;
        void* grown = std::realloc(block, size);
        if (r && grown) r->parserBytes_ = size;
        return grown;
    }

    static thread_local Reader* current_;

    std::uint64_t budget_;
    SampleTable table_;
    std::vector<std::string> row_; // the fields of the row being read
    std::uint64_t rowText_ = 0;    // their heap blocks
    std::uint64_t stored_ = 0;     // the rows stored, with their arrays
    std::uint64_t parserBytes_ = 0;
    std::string head_;    // the text up to the end of the first row
    bool quoted_ = false; // within quotes, as far as the first row was looked at
    std::size_t rowNumber_ = 0;
    std::size_t width_ = 0; // the fields a row is expected to have: the first row's
    std::unique_ptr<csv_parser> parser_;
    bool full_ = false;
    std::string refused_; // a field that is not text, said with its place
    Culprit refusedAt_;
    std::uint64_t need_ = 0;
    Cause cause_ = Cause::Rows;
    std::size_t fullRow_ = 0, fullFields_ = 0;
};

const std::uint64_t Reader::kInPlace = std::string().capacity();
thread_local Reader* Reader::current_ = nullptr;

} // namespace

SampleTable ParseSampleTable(std::string_view text, std::uint64_t memoryBudget) {
    Reader reader(memoryBudget);
    reader.Feed(text);
    return reader.Finish();
}

SampleTable ReadSampleTable(const std::string& path, std::uint64_t memoryBudget) {
    const std::string name =
        path == "-" ? std::string("standard input") : "\"" + EchoText(path) + "\"";
    std::ifstream file;
    if (path != "-") {
        file.open(path, std::ios::binary);
        if (!file) throw TableError(name + " cannot be opened: " + std::strerror(errno));
    }
    std::istream& in = path == "-" ? std::cin : file;
    try {
        // Read and parsed in pieces: the text is not held beyond its first row.
        Reader reader(memoryBudget);
        std::vector<char> buffer(std::size_t{1} << 16);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
               in.gcount() > 0)
            reader.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(in.gcount())));
        if (in.bad()) throw TableError("it cannot be read: " + std::string(std::strerror(errno)));
        return reader.Finish();
    } catch (const TableError& e) {
        Culprit culprit = e.culprit();
        culprit.file = path;
        throw TableError(name + ": " + e.what(), culprit);
    }
}

} // namespace temra::study
