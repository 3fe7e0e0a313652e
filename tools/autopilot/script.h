// The autopilot's script: the steps that answer an installer run, one per
// line, and the quoting shared by scripts and transcripts.
//
// A line holds a step name and its arguments, separated by blanks. An
// argument holding blanks is written in double quotes; inside quotes \" is a
// quote, \\ a backslash, \r \n \t the control bytes and \xNN any byte (two
// hex digits). Bytes 0x80 and up stand for themselves (code page 1252), so
// a caption copied from a transcript can be pasted into a script. Blank
// lines and lines starting with '#' are ignored.
//
// Windows with a caption bar wait for the user; a window without one (the
// install dialog) may come and go by itself while the installer works, in
// less time than a look takes. Such a window is therefore never
// unexpected: unless a `progress` step waits for it, it is only noted in a
// "passing" line, which comparisons of transcripts leave out.
//
// Steps (the "current window" is the one the last `window` or `progress`
// step matched):
//   backdrop              wait until the installer's backdrop window shows
//   window CAPTION        wait for the next new dialog or message box with
//                         a caption bar; it must bear CAPTION, else the run
//                         fails
//   progress CAPTION      wait for a new window without a caption bar (the
//                         install dialog) whose window text is CAPTION
//   press LABEL           BM_CLICK on the current window's button LABEL
//                         ('&' ignored in the button's text)
//   click LABEL           a real left mouse click at that button's centre
//   key NAME              a key stroke to the focused window: enter,
//                         escape, tab, space
//   close                 the close box of the current window (SC_CLOSE)
//   shot NAME             ask the runner for a screenshot and wait for it
//   end [CODE]            wait for the installer to end, with exit code
//                         CODE when given; any new window first fails
//   timeout SECONDS       time allowed to each later wait (default 30)
//   pause MILLISECONDS    wait that long (programs the installer started,
//                         a screen saver say, go on meanwhile)
//   nudge                 move the mouse 200 pixels, as a person would
//   stroke NAME           a key stroke (names as for `key`) to whatever
//                         window has the keyboard, with no window to answer
//   shows CLASS           wait until a window of class CLASS shows, in any
//                         program (a screen saver's window, say)
//   process SUFFIX running|ended
//                         wait until a process whose program name ends in
//                         SUFFIX (letter case ignored) runs, or until none
//                         does
#pragma once

#include <string>
#include <vector>

enum class StepKind { Backdrop, Window, Progress, Press, Click, Key, Close, Shot, End, Timeout, Pause, Nudge, Process, Shows, Stroke };

struct Step {
    StepKind kind = StepKind::End;
    std::string text;  // caption, button label, key name or shot name
    int number = -1;   // exit code for End (-1: any), seconds for Timeout,
                       // milliseconds for Pause, 1 running / 0 ended for Process
    int line = 0;      // line in the script, for messages
};

// Splits one line into arguments, undoing the quoting. Returns false with a
// reason in `error` on an unterminated quote or a bad escape.
bool SplitLine(const std::string& line, std::vector<std::string>& words, std::string& error);

// Parses a whole script. On failure returns false and names the line and
// the fault in `error`.
bool ParseScript(const std::string& content, std::vector<Step>& steps, std::string& error);

// Writes `text` in double quotes with the escapes above, for a transcript.
std::string Quote(const std::string& text);

// A button's text as a person reads it: the '&' of a mnemonic removed
// ("&&" stands for one '&').
std::string ButtonLabel(const std::string& text);

// The virtual-key code for a key name of the `key` step, 0 when unknown.
int KeyCode(const std::string& name);
