// The results log: the program's whole report. Every host shows this text.
//
// Lines come in as UTF-8. Each line is stored with NUL characters replaced by
// "?" and followed by CR LF. The length is counted in characters (code
// points), kept as a running count.
#ifndef KXCHECK_CORE_RESULTS_LOG_H_
#define KXCHECK_CORE_RESULTS_LOG_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kxcheck {

class ResultsLog {
 public:
  static constexpr int64_t kCap = 65000;

  // Told of every change, so that a window can mirror the text.
  class Observer {
   public:
    virtual ~Observer() = default;
    virtual void OnAppend(std::string_view text) = 0;  // text ends in CR LF
    virtual void OnClear() = 0;
  };

  void SetObserver(Observer* observer) { observer_ = observer; }

  // Adds the line while the log holds at most kCap characters; otherwise
  // drops it.
  void AddResult(std::string_view line);
  // Adds the line whatever the length.
  void AddResultAlways(std::string_view line);
  void Clear();
  int64_t Length() const { return length_; }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  int64_t length_ = 0;
  Observer* observer_ = nullptr;
};

// A line as the log stores it: NUL characters replaced by "?", CR LF added.
std::string LogLine(std::string_view line);

// Record bytes as text: each byte becomes the character with the byte's value
// as its code, encoded in UTF-8.
std::string BytesToText(std::string_view bytes);

// Number of characters (code points) in UTF-8 text.
int64_t CountCharacters(std::string_view utf8);

}  // namespace kxcheck

#endif  // KXCHECK_CORE_RESULTS_LOG_H_
