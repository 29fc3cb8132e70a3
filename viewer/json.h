// The trace as JSON: one object per event, written by hand into a string so
// that bytes which are not UTF-8 can be kept exactly (as \udcXX, the
// surrogate-escape convention, which no JSON library writes).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "blockwriter.h"
#include "model.h"
#include "writer.h"

namespace kv {

// Appends bytes as a JSON string: valid UTF-8 is kept, `"`, `\` and control
// characters are escaped, every other byte becomes \udcXX. With html, `<`,
// `>`, `&`, U+2028 and U+2029 are escaped as well, so that the text can
// stand inside a <script> element.
void kv_JsonString(std::string* out, std::string_view bytes, bool html);

// The escape rule alone: writes bytes escaped (without quotes) at w, which
// has room for 6 bytes per byte; the end of what it wrote. kv_JsonEscape
// finds the bytes that go through as they are sixteen at a time (the
// trace's strings pass here, every byte of them); kv_JsonEscapePlain, one at a time,
// is the rule as its table states it, and the fuzz target holds the two
// to the same bytes.
char* kv_JsonEscape(char* w, std::string_view bytes, bool html);
char* kv_JsonEscapePlain(char* w, std::string_view bytes, bool html);

// Appends one event as a JSON object, without a line end.
// A replay's meta names its policy; a run as written has none.
void kv_JsonMeta(std::string* out, const std::vector<std::string>& files, bool html,
                 std::string_view policy = {});
void kv_JsonBanner(std::string* out, std::string_view file, std::string_view output, bool html);
void kv_JsonStep(std::string* out, const Step& step, bool html);

// Text of a step that most steps share with the step before, kept from one
// step to the next: the file, the error line's text, and processes, free
// list and stats, which most lines leave as they were. For one html setting.
struct JsonStateText {
    std::string file;                 // the file of start
    std::string start;                // {"type":"step","file":"...","line":
    std::string errors[ERR_NONE + 2]; // ,"error":... of codes -1 to ERR_NONE; empty until used
    bool valid = false;               // state and stats hold the last step's
    std::string state;                // ,"processes":[...],"free":[...],"cells":[
    std::string stats;                // ],"stats":{...}
    // {"id":...,"segments":[...]} of each process, and the segments it was
    // written from; empty until the slot is first live.
    std::string process[KMM_PROCESS_SLOTS];
    std::vector<Area> processSegs[KMM_PROCESS_SLOTS];
};

// kv_JsonStep, taking what the step shares with the last from *kept, and
// keeping the rest there for the next.
void kv_JsonStepKept(std::string* out, const Step& step, bool html, JsonStateText* kept);
void kv_JsonEnd(std::string* out, uint64_t steps);

// Writes the trace as JSON Lines to out as the run goes.
class JsonLinesSink : public Sink {
  public:
    explicit JsonLinesSink(BlockWriter* out) : out_(out) {}
    void policy(std::string_view name) override
    {
        policy_ = name;
    }
    void begin(const std::vector<std::string>& files) override;
    void banner(std::string_view file, std::string_view output) override;
    void step(const Step& step) override;
    void end(uint64_t steps, const MemState& last) override;

  private:
    void putLine();
    void sendFull();
    BlockWriter* out_;
    JsonStateText kept_;
    RoomBuffer buf_;     // lines gathered for the next write
    std::string line_;   // an event other than a step, as it is written
    std::string policy_; // a replay's policy; empty for the run as written
};

} // namespace kv
