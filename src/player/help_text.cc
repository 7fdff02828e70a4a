#include "player/help_text.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// One switch of the help text: its field as shown and the description lines
// (the first on the switch line, the others as continuation lines).
struct HelpEntry {
  const char* field;
  const char* lines[6];
};

constexpr HelpEntry kHelpEntries[] = {
    {"/P", {"Preload the entire Vorn video into memory."}},
    {"/L##", {"Loop the animation (just/L for infinite)."}},
    {"/F#.#", {"Use this frame rate (just /F for fast)."}},
    {"/T##", {"Play the specified sound track."}},
    {"/Z", {"Use waveOut instead of DirectSound for audio output."}},
    {"/S", {"Show the playback summary when finished."}},
    {"/X##", {"Specifies the X coordinate of the playback."}},
    {"/Y##", {"Specifies the Y coordinate of the playback."}},
    {"/W#.#",
     {"Stretch to this width in pixels (can be slow). Use negative numbers for",
      "scaling (i.e. for 2x, use '/w-2').  For full screen, use -1 ('/w-1')."}},
    {"/H#.#", {"Stretch to this height in pixels (can be slow)."}},
    {"/R", {"Fill the screen with a black background."}},
    {"/C", {"Hide the cursor when in the Vorn window."}},
    {"/M##", {"Simulate this read speed (in bytes/second)."}},
    {"/E##", {"Specified the amount of memory for read buffering."}},
    {"/G", {"Don't load the read buffer when opening the Vorn (faster opening)."}},
    {"/K", {"Do not use multi-threaded device reading."}},
    {"/U##", {"Disable controls: 1=pause, 2=skip, 4=quit."}},
    {"/N", {"Never skip frames when falling behind."}},
    {"/Q", {"Show run-time playback statistics."}},
    {"/J", {"Don't pause the video when the focus is lost."}},
    {"/I#", {"Window style: 0=normal, 1=no caption, 2=nothing.  Add 100 for always-on-top."}},
    {"/A##",
     {"Display options: 1=2x height doubled, 2=2x height interlaced, 3=2x width doubled,",
      "4=2x width and height interlaced, 5=2x width and height doubled,",
      "6=1x height interlaced, 7=force none. Add 100 for grayscale."}},
    {"/D##",
     {"Display resolution: 1=320x200, 2=320x240, 3=320x400, 4=400x300, 5=480x360,",
      "6=512x384, 7=640x400, 8=640x480, 9=800x600, 10=960x720, 11=1024x768,",
      "12=1152x864, 13=1280x1024. To set the color depth, add: 0 for 16-bit,",
      "100 for 24-bit, 200 for 32-bit, 300 for 8-bit, 400 for at least",
      "high-color (16, 32, then 24), 500 to try true-color (32, 24, then 16),",
      "and 600 for true-color only (32, then 24)."}},
    {"/B##",
     {"Blitting style: 0=Automatic, 1=DirectDraw primary display (best quality,",
      "very fast), 2=DIBSection (best quality, most compatible), 3=YV12 overlay,",
      "4=YUY2 overlay, 5=UYVY overlay, 6=YV12 off-screen, 7=YUY2 off-screen,",
      "8=UYVY off-screen, 9=DirectDraw RGB video memory off-screen,",
      "10=DirectDraw RGB system memory off-screen."}},
};

std::string BuildHelpText() {
  std::string text =
      "VornPlay  V 1.5t\n"
      "Copyright (C) the Vorn project. Free to use and to pass on.\n"
      "  SYNTAX: VornPlay <Vorn1 Vorn2 ...> [/Switches]:\n";
  for (const HelpEntry& e : kHelpEntries) {
    // /R and /C stand in a five-character field, all others in four; the
    // ratio fields are five characters long and stand unpadded.
    bool wide = !std::strcmp(e.field, "/R") || !std::strcmp(e.field, "/C");
    std::string field = e.field;
    field.resize(std::max<size_t>(field.size(), wide ? 5 : 4), ' ');
    text += "    " + field + "\t- " + e.lines[0] + "\n";
    // Continuation lines after /W are indented one blank further.
    const char* indent = !std::strcmp(e.field, "/W#.#") ? "         " : "        ";
    for (int i = 1; i < 6 && e.lines[i]; ++i) text += std::string(indent) + "\t    " + e.lines[i] + "\n";
  }
  return text;
}

}  // namespace

const char* PlayerHelpText() {
  static const std::string text = BuildHelpText();
  return text.c_str();
}
