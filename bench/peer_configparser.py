#!/usr/bin/env python3
"""The peer a user would write with the standard library: configparser reads
each INI file (binary ones converted with krun first), sqlite3 stores the
sections, entry lines and values, one transaction per file. Repeated keys are
kept (each line a row); repeated section names merge, as configparser does.
A file configparser refuses is read with the plain line loop instead.

    peer_configparser.py GAME KRUN OUT.db
"""
import configparser
import sys
import time

import peer_common as pc
from peer_lineloop import store_text


class MultiDict(dict):
    """Keeps every line of a repeated key instead of the last one."""

    def __setitem__(self, key, value):
        if isinstance(value, list) and key in self and isinstance(self[key], list):
            self[key].extend(value)
        else:
            super().__setitem__(key, value)


def store_parsed(store, path, text):
    parser = configparser.ConfigParser(strict=False, interpolation=None, allow_no_value=True,
                                       delimiters=("=",), comment_prefixes=(";",),
                                       inline_comment_prefixes=(";",), dict_type=MultiDict,
                                       empty_lines_in_values=False)
    parser.optionxform = str
    parser.read_string(text, source=path)
    for name in parser.sections():
        section_id = store.section("data", name, path, 0)
        for key, joined in parser._sections[name].items():
            for value in (joined.split("\n") if joined is not None else [""]):
                store.entry(section_id, key, 0, [v.strip() for v in value.split(",")] if value else [])


def main():
    game, krun, out = sys.argv[1:4]
    start = time.perf_counter()
    conv = pc.Converter(krun)
    store = pc.Store(pc.open_db(out))
    files = fallbacks = 0
    for path in pc.game_files(game):
        text = conv.text_of(path)
        if text is None:
            continue
        store.begin()
        rows = store.rows
        try:
            store_parsed(store, path, text)
        except (configparser.Error, AttributeError):  # a file it cannot take
            store.cur.execute("ROLLBACK")
            store.rows = rows
            store.begin()
            store_text(store, path, text)
            fallbacks += 1
        store.commit()
        files += 1
    store.db.close()
    conv.close()
    print(f"files={files} converted={conv.converted} fallbacks={fallbacks} rows={store.rows} "
          f"seconds={time.perf_counter() - start:.3f}")


if __name__ == "__main__":
    main()
