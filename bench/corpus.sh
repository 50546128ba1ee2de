# The pages the bench scripts work on, made at run time from HTML that Debian packages install
# (libstdc++-12-doc and python3.11-doc); nothing of it is kept in the repository. Sourced by
# bench/run, bench/ratios and bench/ab.

# real_pages DIR COUNT: the first COUNT pages of that documentation, copied into DIR below
# the folders they stand in.
real_pages() {
    local page rel
    mkdir -p "$1"
    find /usr/share/doc/gcc-12-base/libstdc++ /usr/share/doc/python3.11/html -name '*.html' \
        -type f | sort | sed -n "1,$2p" | while read -r page; do
            rel=${page#/usr/share/doc/}
            mkdir -p "$1/$(dirname "$rel")"
            cp "$page" "$1/$rel"
        done
}

# small_pages DIR: 10,000 small pages in one folder, as a generated site or a documentation
# tree has them.
small_pages() {
    local i
    mkdir -p "$1"
    for i in $(seq 10000); do
        printf '<html>\r\n  <body>\r\n    <p>Page %d,   hello</p>\r\n  </body>\r\n</html>\r\n' \
            "$i" > "$1/page-$i.html"
    done
}

# large_page DIR FILE: the pages below DIR joined into FILE, doubled until it passes 300 MB.
large_page() {
    find "$1" -type f -print0 | sort -z | xargs -0 cat > "$2"
    while [ "$(stat -c %s "$2")" -lt 300000000 ]; do
        cat "$2" "$2" > "$2.next"
        mv "$2.next" "$2"
    done
}
