// The damage map page: one HTML file that draws a damage map's data
// (damage_map.h) with the charting script it carries within itself, so that
// it opens in any browser without a network.
//
// The page is report_page.html with dygraphs' script and style written in at
// build time (embed_page.cmake); the data goes into an element
// <script type="application/json" id="kx-data">, which the page's script
// reads and draws: the stamps against the record number, the findings along
// the table, the summary, the longest runs and the first findings of each
// kind, and what a repair changed when the data has a "repair" member.
#ifndef KXCHECK_TOOLS_KXTABLE_REPORT_PAGE_H_
#define KXCHECK_TOOLS_KXTABLE_REPORT_PAGE_H_

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "engine/record_table.h"

namespace kxtable {

// The data, a JSON object, in parts: a function that hands each part, in
// order, to the function it is given (as DamageMap::WriteJson does), so that
// the data need not be held whole.
using ReportData =
    std::function<void(const std::function<void(std::string_view)>&)>;

// Writes the page around the data to `out`. Every "<" of the data is written
// "\u003c", which JSON reads as the same character, so that nothing in the
// data can end the element that holds it. False when `out` could not take it
// all (errno says why).
bool WriteReportPage(std::FILE* out, const ReportData& data);
// The same, handing the page to `put` piece by piece.
void WriteReportPage(const std::function<void(std::string_view)>& put,
                     const ReportData& data);

// The layout in a line: "date, time, sensor (6 bytes), ...; 40 bytes a
// record".
std::string LayoutText(const kalvex::TableLayout& layout);

}  // namespace kxtable

#endif  // KXCHECK_TOOLS_KXTABLE_REPORT_PAGE_H_
