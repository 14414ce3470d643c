#include "tools/kxtable/report_page.h"

#include <algorithm>
#include <cstddef>

namespace kxtable {

namespace report_page_text {
// In the source that embed_page.cmake makes: the page before and after its
// data, each in parts.
extern const std::string_view kHead[];
extern const size_t kHeadParts;
extern const std::string_view kTail[];
extern const size_t kTailParts;
}  // namespace report_page_text

void WriteReportPage(const std::function<void(std::string_view)>& put,
                     const ReportData& data) {
  using namespace report_page_text;
  for (size_t i = 0; i < kHeadParts; ++i) put(kHead[i]);
  data([&put](std::string_view part) {
    for (size_t at = 0; at < part.size();) {
      const size_t lt = std::min(part.find('<', at), part.size());
      put(part.substr(at, lt - at));
      if (lt < part.size()) put("\\u003c");
      at = lt + 1;
    }
  });
  for (size_t i = 0; i < kTailParts; ++i) put(kTail[i]);
}

bool WriteReportPage(std::FILE* out, const ReportData& data) {
  bool whole = true;
  WriteReportPage(
      [&](std::string_view text) {
        whole = whole &&
                std::fwrite(text.data(), 1, text.size(), out) == text.size();
      },
      data);
  return whole;
}

std::string LayoutText(const kalvex::TableLayout& layout) {
  std::string text = "date, time";
  for (const kalvex::FieldDef& field : layout.payload) {
    text += ", " + field.name + " (" + std::to_string(field.width) +
            (field.width == 1 ? " byte)" : " bytes)");
  }
  text += "; " + std::to_string(layout.RecordLength()) + " bytes a record";
  return text;
}

}  // namespace kxtable
