#!/usr/bin/env python3
"""Generates the inputs of the benchmarks (stdlib only).

  gen.py text SIZE EVERY OUT_BRINDLE OUT_ENVSUBST ENVFILE JSON
      a text of SIZE bytes with one placeholder per EVERY bytes, in our
      %name% form and in envsubst's ${name} form, the environment that
      envsubst needs, and a project JSON with the same variables.
  gen.py site PAGES DIR
      a project JSON (DIR/site.json) of PAGES pages (2 KB template, about ten
      placeholders, 50 global variables) and the equivalent Hugo site
      (DIR/hugo).
  gen.py bigproject MB JSON
      a project JSON of about MB megabytes.
"""
import json
import os
import random
import sys

WORDS = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod "
         "tempor incididunt ut labore et dolore magna aliqua").split()
NVARS = 50


def filler(rng, n):
    out = []
    size = 0
    while size < n:
        w = rng.choice(WORDS)
        out.append(w)
        size += len(w) + 1
    return " ".join(out)[:n]


def text(size, every, out_b, out_e, envfile, js):
    rng = random.Random(1)
    names = ["v%02d" % i for i in range(NVARS)]
    values = {n: filler(rng, 12) for n in names}
    b, e = [], []
    total = 0
    while total < size:
        n = rng.choice(names)
        gap = filler(rng, every - len(n) - 3) + " "
        b.append(gap + "%" + n + "%")
        e.append(gap + "${" + n + "}")
        total += len(b[-1])
    with open(out_b, "w") as f:
        f.write("".join(b))
    with open(out_e, "w") as f:
        f.write("".join(e))
    with open(envfile, "w") as f:
        for n in names:
            f.write("export %s='%s'\n" % (n, values[n]))
    project = {"format": 4, "nodes": [
        {"key": "Vars", "structure": 1,
         "vars": [{"name": n, "value": values[n]} for n in names]}]}
    with open(js, "w") as f:
        json.dump(project, f)


def site(pages, d):
    rng = random.Random(2)
    gnames = ["g%02d" % i for i in range(NVARS)]
    gvals = {n: filler(rng, 16) for n in gnames}
    locals_ = ["title", "date", "summary", "body", "author"]
    # About 2 KB of template: HTML scaffolding with ten placeholders, five
    # of them globals and five page values.
    used_g = gnames[:5]
    parts = []
    slots = [("g", used_g[0]), ("l", "title"), ("g", used_g[1]), ("l", "date"), ("l", "summary"),
             ("g", used_g[2]), ("l", "body"), ("g", used_g[3]), ("l", "author"), ("g", used_g[4])]
    for kind, name in slots:
        parts.append(("lit", "<div class=\"x\">" + filler(rng, 170) + "</div>\n"))
        parts.append((kind, name))
    parts.append(("lit", "</body></html>\n"))
    ours = "".join(p[1] if p[0] == "lit" else "%" + p[1] + "%" for p in parts)
    hugo_tpl = "".join(p[1] if p[0] == "lit" else
                       ("{{ site.Params.%s }}" % p[1] if p[0] == "g" else "{{ .Params.%s }}" % p[1])
                       for p in parts)
    os.makedirs(os.path.join(d, "out"), exist_ok=True)
    pages_json = []
    content = os.path.join(d, "hugo", "content")
    os.makedirs(content, exist_ok=True)
    os.makedirs(os.path.join(d, "hugo", "layouts", "_default"), exist_ok=True)
    for i in range(pages):
        vals = {"title": "Page %d" % i, "date": "2026-%02d-%02d" % (i % 12 + 1, i % 28 + 1),
                "summary": filler(rng, 60), "body": filler(rng, 160), "author": "Author %d" % (i % 97)}
        pages_json.append({"name": "p%05d" % i, "template": "T", "localFolder": os.path.join(d, "out"),
                           "fileName": "p%05d.html" % i, "ftpFolder": "", "copyToFtp": False,
                           "values": [{"name": k, "value": v} for k, v in vals.items()]})
        with open(os.path.join(content, "p%05d.md" % i), "w") as f:
            f.write("---\n")
            for k, v in vals.items():
                f.write("%s: %s\n" % (k, json.dumps(v)))
            f.write("---\n")
    project = {"format": 4, "nodes": [
        {"key": "Pages", "structure": 3, "pages": pages_json},
        {"key": "Temps", "structure": 2, "templates": [{"name": "T", "text": ours, "localVars": locals_}]},
        {"key": "Vars", "structure": 1, "vars": [{"name": n, "value": gvals[n]} for n in gnames]}]}
    with open(os.path.join(d, "site.json"), "w") as f:
        json.dump(project, f)
    with open(os.path.join(d, "hugo", "config.toml"), "w") as f:
        f.write('baseURL = "http://example.org/"\nuglyURLs = true\n'
                'disableKinds = ["taxonomy", "term", "RSS", "sitemap", "home", "section", "404", "robotsTXT"]\n'
                '[params]\n')
        for n in gnames:
            f.write('%s = %s\n' % (n, json.dumps(gvals[n])))
    with open(os.path.join(d, "hugo", "layouts", "_default", "single.html"), "w") as f:
        f.write(hugo_tpl)
    with open(os.path.join(d, "template-size.txt"), "w") as f:
        f.write(str(len(ours)))


def bigproject(mb, js):
    rng = random.Random(3)
    target = mb * 1000 * 1000
    body = filler(rng, 4000)
    pages, size, i = [], 0, 0
    while size < target:
        pages.append({"name": "page%d" % i, "template": "T", "localFolder": "/tmp", "fileName": "p%d.html" % i,
                      "ftpFolder": "www", "copyToFtp": bool(i % 2),
                      "values": [{"name": "body", "value": body}, {"name": "title", "value": "Title %d" % i}]})
        size += len(body) + 120
        i += 1
    project = {"format": 4, "nodes": [
        {"key": "Pages", "structure": 3, "pages": pages},
        {"key": "Temps", "structure": 2, "templates": [{"name": "T", "text": body, "localVars": ["body", "title"]}]},
        {"key": "Vars", "structure": 1, "vars": [{"name": "v%d" % k, "value": body} for k in range(100)]}]}
    with open(js, "w") as f:
        json.dump(project, f)


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "text":
        text(int(sys.argv[2]), int(sys.argv[3]), *sys.argv[4:8])
    elif cmd == "site":
        site(int(sys.argv[2]), sys.argv[3])
    elif cmd == "bigproject":
        bigproject(int(sys.argv[2]), sys.argv[3])
    else:
        sys.exit("unknown command " + cmd)
