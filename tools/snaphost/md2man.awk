# Turns the readable source of a manual page into man(7) markup. The source is a small part of
# Markdown: "# NAME" sections, "## Name" subsections, paragraphs, definition lists (a term line,
# then lines starting ":   " and lines indented by four blanks), fenced ``` blocks shown as they
# stand, and inline **bold**, *italic* and `literal`.
# Usage: awk -f md2man.awk -v title=SNAPHOST -v section=1 -v source="snaphost 1.0" \
#            -v manual="User Commands" snaphost.1.md > snaphost.1

function escape(text) {
    gsub(/\\/, "\\e", text)
    return text
}

# Hyphens in options and literals are minus signs, which copy as the ASCII ones.
function minus(text) {
    gsub(/-/, "\\-", text)
    return text
}

function inline(text,    out, start, len, span, n, words, i, w) {
    text = escape(text)
    out = ""
    while (match(text, /`[^`]+`|\*\*[^*]+\*\*|\*[^*]+\*/)) {
        start = RSTART
        len = RLENGTH
        span = substr(text, start, len)
        out = out substr(text, 1, start - 1)
        if (span ~ /^`/)
            out = out "\\fB" minus(substr(span, 2, len - 2)) "\\fR"
        else if (span ~ /^\*\*/)
            out = out "\\fB" minus(substr(span, 3, len - 4)) "\\fR"
        else
            out = out "\\fI" substr(span, 2, len - 2) "\\fR"
        text = substr(text, start + len)
    }
    out = out text
    # A word that starts with a hyphen is an option.
    n = split(out, words, " ")
    out = ""
    for (i = 1; i <= n; i++) {
        w = words[i]
        if (w ~ /^[([]?-/) w = minus(w)
        out = out (i > 1 ? " " : "") w
    }
    if (out ~ /^[.']/) out = "\\&" out
    return out
}

function flush() {
    if (term != "") {
        if (para) print ".PP"
        print inline(term)
        term = ""
        para = 0
    }
}

BEGIN {
    printf ".TH %s %s \"\" \"%s\" \"%s\"\n", title, section, source, manual
    para = 1
    code = 0
    term = ""
    indef = 0
}

/^```/ {
    flush()
    if (!code) {
        print ".PP"
        print ".RS 4"
        print ".nf"
    } else {
        print ".fi"
        print ".RE"
        para = 1
    }
    code = !code
    next
}

code {
    line = escape($0)
    if (line ~ /^[.']/) line = "\\&" line
    print line
    next
}

/^# / { flush(); print ".SH " substr($0, 3); para = 0; indef = 0; next }
/^## / { flush(); print ".SS " substr($0, 4); para = 0; indef = 0; next }

/^$/ { flush(); para = 1; indef = 0; next }

/^:   / {
    print ".TP"
    print inline(term)
    term = ""
    print inline(substr($0, 5))
    para = 0
    indef = 1
    next
}

/^    / && indef { print inline(substr($0, 5)); next }

{
    # A line may be the term of a definition that follows; it waits for the next line.
    if (term != "") {
        if (para) print ".PP"
        print inline(term)
        para = 0
    }
    term = $0
}

END { flush() }
