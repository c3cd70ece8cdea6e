// Plain text as a PDF document, for printers that take PDF only (the PDF
// printer's folder): what a line printer would put on paper. Uses the
// standard Courier face, which every PDF reader has, so nothing is embedded
// and no drawing library is needed (daemons print through this too).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "print_internal.h"

namespace qx::print {
namespace {

constexpr int kMargin = 36;  // points
constexpr int kFontSize = 10, kAdvance = 6, kLeading = 12;

void AppendPdfString(std::string &out, const std::string &text) {
  out += '(';
  for (unsigned char c : text) {
    if (c == '(' || c == ')' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char oct[8];
      std::snprintf(oct, sizeof oct, "\\%03o", c);
      out += oct;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += ')';
}

// Lays the text out page by page as content streams.
class Layout {
 public:
  Layout(int width, int height)
      : height_(height), columns_((width - 2 * kMargin) / kAdvance), lines_((height - 2 * kMargin) / kLeading) {}
  std::vector<std::string> pages;

  void Feed(const std::string &in) {
    for (size_t i = 0; i < in.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(in[i]);
      switch (c) {
        case '\n': NewLine(); break;
        case '\r':
          if (i + 1 < in.size() && in[i + 1] == '\n') break;  // CR LF is one line end
          Flush();
          col_ = 0;
          break;
        case '\f': EndPage(); break;
        case '\t':
          do Put(' ');
          while (col_ % 8 != 0);
          break;
        default:
          if (c >= 0x20 && c != 0x7F) Put(static_cast<char>(c));
          break;
      }
    }
    Flush();
    if (has_content_ || pages.empty()) EndPage();
  }

 private:
  int height_, columns_, lines_;
  std::string page_;
  std::string run_;
  int run_col_ = 0, col_ = 0, line_ = 0;
  bool has_content_ = false;

  void Put(char c) {
    if (col_ >= columns_) NewLine();
    if (run_.empty()) run_col_ = col_;
    run_ += c;
    ++col_;
  }
  void Flush() {
    if (run_.empty()) return;
    const int x = kMargin + run_col_ * kAdvance;
    const int y = height_ - kMargin - kFontSize - line_ * kLeading;
    page_ += "1 0 0 1 " + std::to_string(x) + " " + std::to_string(y) + " Tm ";
    AppendPdfString(page_, run_);
    page_ += " Tj\n";
    run_.clear();
    has_content_ = true;
  }
  void NewLine() {
    Flush();
    col_ = 0;
    if (++line_ >= lines_) EndPage();
  }
  void EndPage() {
    Flush();
    pages.push_back("BT /F1 " + std::to_string(kFontSize) + " Tf\n" + page_ + "ET\n");
    page_.clear();
    line_ = col_ = 0;
    has_content_ = false;
  }
};

// Writes numbered objects and the cross-reference table.
class PdfWriter {
 public:
  explicit PdfWriter(int count) : offsets_(static_cast<size_t>(count) + 1, 0) {
    out_ << "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  }
  void Object(int number, const std::string &body) {
    offsets_[static_cast<size_t>(number)] = static_cast<long>(out_.tellp());
    out_ << number << " 0 obj\n" << body << "\nendobj\n";
  }
  std::string Finish(int root, int info) {
    const long xref = static_cast<long>(out_.tellp());
    out_ << "xref\n0 " << offsets_.size() << "\n0000000000 65535 f \n";
    for (size_t i = 1; i < offsets_.size(); ++i) {
      char line[24];
      std::snprintf(line, sizeof line, "%010ld 00000 n \n", offsets_[i]);
      out_ << line;
    }
    out_ << "trailer\n<< /Size " << offsets_.size() << " /Root " << root << " 0 R /Info " << info
         << " 0 R >>\nstartxref\n"
         << xref << "\n%%EOF\n";
    return out_.str();
  }

 private:
  std::ostringstream out_;
  std::vector<long> offsets_;
};

}  // namespace

bool TextToPdf(const std::string &in, const std::string &out, const std::string &title, const Paper &paper) {
  std::ifstream src(in, std::ios::binary);
  if (!src) return false;
  std::ostringstream text;
  text << src.rdbuf();
  const int width = static_cast<int>(paper.width * 72L / 254), height = static_cast<int>(paper.height * 72L / 254);
  Layout layout(width, height);
  layout.Feed(text.str());

  // Objects: 1 catalog, 2 page tree, 3 font, 4 information, then a page and
  // its content stream for each page.
  const int pages = static_cast<int>(layout.pages.size());
  PdfWriter pdf(4 + 2 * pages);
  pdf.Object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int i = 0; i < pages; ++i) kids += std::to_string(5 + 2 * i) + " 0 R ";
  pdf.Object(2, "<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(pages) + " >>");
  pdf.Object(3, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding /WinAnsiEncoding >>");
  std::string info = "<< /Title ";
  AppendPdfString(info, title);
  pdf.Object(4, info + " /Producer (QX print spooler) >>");
  const std::string media = "[0 0 " + std::to_string(width) + " " + std::to_string(height) + "]";
  for (int i = 0; i < pages; ++i) {
    const int page = 5 + 2 * i, content = page + 1;
    pdf.Object(page, "<< /Type /Page /Parent 2 0 R /MediaBox " + media + " /Resources << /Font << /F1 3 0 R >> >> " +
                         "/Contents " + std::to_string(content) + " 0 R >>");
    const std::string &stream = layout.pages[static_cast<size_t>(i)];
    pdf.Object(content, "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "endstream");
  }
  const std::string bytes = pdf.Finish(1, 4);
  std::ofstream dst(out, std::ios::binary | std::ios::trunc);
  dst.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  dst.close();
  return static_cast<bool>(dst);
}

}  // namespace qx::print
