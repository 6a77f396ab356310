#!/usr/bin/env python3
"""The peer a user would write: a plain line loop over the game's INI files
(binary ones converted with krun) storing sections, entry lines and values
into SQLite, one transaction per file.

    peer_lineloop.py GAME KRUN OUT.db
"""
import sys
import time

import peer_common as pc


def store_text(store, path, text):
    section_id = None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.split(";", 1)[0].strip()
        if not line:
            continue
        if line[0] == "[":
            section_id = store.section("data", line.strip("[]"), path, number)
            continue
        if section_id is None:
            continue
        key, _, rest = line.partition("=")
        store.entry(section_id, key.strip(), number, [v.strip() for v in rest.split(",")] if rest else [])


def main():
    game, krun, out = sys.argv[1:4]
    start = time.perf_counter()
    conv = pc.Converter(krun)
    store = pc.Store(pc.open_db(out))
    files = 0
    for path in pc.game_files(game):
        text = conv.text_of(path)
        if text is None:
            continue
        store.begin()
        store_text(store, path, text)
        store.commit()
        files += 1
    store.db.close()
    conv.close()
    print(f"files={files} converted={conv.converted} rows={store.rows} seconds={time.perf_counter() - start:.3f}")


if __name__ == "__main__":
    main()
