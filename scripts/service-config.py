#!/usr/bin/env python3
"""Writes the service's example configuration with some settings changed, for benchmarks and local
set-ups.

Usage: service-config.py OUT NAME=JSON...   e.g. storage_cap_bytes=68719476736 trusted_proxies='["127.0.0.1"]'
"""
import json
import pathlib
import sys

example = pathlib.Path(__file__).resolve().parent.parent / "service" / "config.example.json"
config = json.loads(example.read_text(encoding="utf-8"))
for setting in sys.argv[2:]:
    name, _, value = setting.partition("=")
    config[name] = json.loads(value)
pathlib.Path(sys.argv[1]).write_text(json.dumps(config, ensure_ascii=False), encoding="utf-8")
