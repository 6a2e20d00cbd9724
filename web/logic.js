// The page's logic that is not drawing, as plain functions that the page, its worker and the
// tests in node share: the mode an input implies, the command line it stands for, the window of a
// line shown in context, and the entries of the records of changes and warnings.
'use strict';

// Whether a pasted or typed text looks like BibTeX: an entry's '@', its type and its opening,
// at the start of a line among the text's first 64 KiB.
function looksLikeBibTeX(text) {
  return /^[ \t]*@[A-Za-z]+[ \t]*[{(]/m.test(text.slice(0, 1 << 16));
}

// Whether a file's name makes it BibTeX.
function namedBibTeX(name) {
  return /\.bib$/i.test(name);
}

// A word of the command line, quoted for a POSIX shell where it needs it: single quotes, and
// each single quote of the word as '\''.
function shellWord(word) {
  return /^[A-Za-z0-9_.,:+@%/=-]+$/.test(word) ? word : "'" + word.replace(/'/g, "'\\''") + "'";
}

// The command line that gives what the page gives: the options, the range export's name, and for
// a file what --in-place makes of it (a typed text is standard input).
function commandLine({ bibtex, isbn13, ranges, input }) {
  const words = ['orvane'];
  if (bibtex) words.push('--bibtex');
  if (isbn13) words.push('--isbn13');
  if (ranges !== null && ranges !== undefined) words.push(shellWord('--ranges=' + ranges));
  if (input && !input.typed) words.push('--in-place', shellWord(input.name));
  return words.join(' ');
}

// The lines around offset in bytes, the one that holds it numbered line: that line and around
// lines before and after it, each at most width bytes, the first line's window centred on offset
// and the others' their start. A line of megabytes costs one search for its bounds; only the
// windows are copied.
function lineWindow(bytes, offset, line, around, width) {
  offset = Math.min(Math.max(0, offset), bytes.length);
  const lineStart = (at) => (at <= 0 ? 0 : bytes.lastIndexOf(10, at - 1) + 1);
  const lineEnd = (at) => {
    const newline = bytes.indexOf(10, at);
    return newline === -1 ? bytes.length : newline;
  };
  const start = lineStart(offset);
  const end = lineEnd(offset);
  const from = Math.max(start, Math.min(offset - (width >> 1), end - width));
  const lines = [{ number: line, bytes: bytes.slice(from, Math.min(end, from + width)), cutBefore: from > start,
    cutAfter: from + width < end, marked: true }];
  for (let n = 1, at = start; n <= around && at > 0; ++n) {
    const previous = lineStart(at - 1);
    const stop = at - 1;
    lines.unshift({ number: line - n, bytes: bytes.slice(previous, Math.min(stop, previous + width)),
      cutBefore: false, cutAfter: previous + width < stop, marked: false });
    at = previous;
  }
  for (let n = 1, at = end + 1; n <= around && end < bytes.length && at <= bytes.length; ++n) {
    const stop = lineEnd(at);
    lines.push({ number: line + n, bytes: bytes.slice(at, Math.min(stop, at + width)), cutBefore: false,
      cutAfter: at + width < stop, marked: false });
    if (stop >= bytes.length) break;
    at = stop + 1;
  }
  return lines;
}

// The records of changes from the module: six numbers each (line, offset, output offset, where
// its texts start, the old and the new text's lengths) and the texts. length, and each entry made
// only when asked for.
function changeRecords({ numbers, texts }) {
  return {
    length: numbers.length / 6,
    at(i) {
      const n = numbers.subarray(6 * i, 6 * i + 6);
      const oldEnd = n[3] + n[4];
      return { line: n[0], offset: n[1], outputOffset: n[2], old: texts.subarray(n[3], oldEnd),
        new: texts.subarray(oldEnd, oldEnd + n[5]) };
    },
  };
}

// The records of warnings: six numbers each (line, offset, where its texts start, the message's
// and the whole line's lengths, whether it counts), and how many are notices about the table.
function warningRecords({ numbers, texts }) {
  let notices = 0;
  for (let i = 5; i < numbers.length; i += 6) notices += numbers[i] === 0 ? 1 : 0;
  return {
    length: numbers.length / 6,
    notices,
    at(i) {
      const n = numbers.subarray(6 * i, 6 * i + 6);
      const textAt = n[2] + n[3];
      return { line: n[0], offset: n[1], message: texts.subarray(n[2], textAt),
        text: texts.subarray(textAt, textAt + n[4]), counted: n[5] === 1 };
    },
  };
}

if (typeof module !== 'undefined') {
  module.exports = { looksLikeBibTeX, namedBibTeX, shellWord, commandLine, lineWindow, changeRecords, warningRecords };
}
