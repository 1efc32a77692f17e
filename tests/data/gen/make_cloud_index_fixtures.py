#!/usr/bin/env python3
"""Writes index files of the iCloud container ("corvex.index") with plistlib only, as other
keyed archivers write them, for tests/cloud:

  tests/data/cloud/plain.index     NSArray, NSString and NSData objects
  tests/data/cloud/mutable.index   the same summaries through NSMutableArray,
                                   NSMutableString ("NS.string") and NSMutableData ("NS.data")
  tests/data/cloud/expected.json   what a reader must find in both: per summary its file
                                   name and fields

Run with /usr/bin/python3 from any folder; the outputs are committed.
"""

import base64
import datetime
import json
import os
import plistlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cloud")
REFERENCE = datetime.datetime(2001, 1, 1)
# A 1x1 PNG (red), the picture of the second summary.
PNG = base64.b64decode(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAAAMBAQDJ/pLvAAAAAElFTkSuQmCC")

SUMMARIES = [
    {"filename": "garden.crvx", "identifier": "idea-garden", "text": "Garden plans", "color": "green6",
     "created": 815000000.0, "modified": 816000000.0, "itemCount": 12, "ideaType": 1,
     "hasNote": True, "hasWebLink": False, "icon": ["rocket", "Travel & Places", "\U0001F680"], "image": None},
    {"filename": "kitchen.crvx", "identifier": "idea-kitchen", "text": "K\u00fcche", "color": "blue4",
     "created": 815100000.0, "modified": 816100000.0, "itemCount": 3, "ideaType": 2,
     "hasNote": False, "hasWebLink": True, "icon": None, "image": PNG},
]

CLASSES = {
    "NSArray": ["NSArray", "NSObject"],
    "NSMutableArray": ["NSMutableArray", "NSArray", "NSObject"],
    "NSMutableString": ["NSMutableString", "NSString", "NSObject"],
    "NSMutableData": ["NSMutableData", "NSData", "NSObject"],
    "NSDate": ["NSDate", "NSObject"],
    "IdeaProxy": ["IdeaProxy", "NSObject"],
    "IconImage": ["IconImage", "NSObject"],
    "PortableImage": ["PortableImage", "NSObject"],
}


class Archive:
    def __init__(self, mutable):
        self.objects = ["$null"]
        self.classes = {}
        self.mutable = mutable

    def add(self, value):
        self.objects.append(value)
        return plistlib.UID(len(self.objects) - 1)

    def cls(self, name):
        if name not in self.classes:
            self.classes[name] = self.add({"$classname": name, "$classes": CLASSES[name]})
        return self.classes[name]

    def string(self, text):
        if self.mutable:
            return self.add({"NS.string": text, "$class": self.cls("NSMutableString")})
        return self.add(text)

    def data(self, raw):
        if self.mutable:
            return self.add({"NS.data": raw, "$class": self.cls("NSMutableData")})
        return self.add(raw)

    def date(self, seconds):
        return self.add({"NS.time": seconds, "$class": self.cls("NSDate")})

    def array(self, uids):
        return self.add({"NS.objects": uids, "$class": self.cls("NSMutableArray" if self.mutable else "NSArray")})

    def proxy(self, s):
        fields = {
            "filename": self.string(s["filename"]),
            "identifier": self.string(s["identifier"]),
            "text": self.string(s["text"]),
            "color": self.string(s["color"]),
            "dateCreated": self.date(s["created"]),
            "dateModified": self.date(s["modified"]),
            "itemCount": s["itemCount"],
            "ideaType": s["ideaType"],
            "hasNote": s["hasNote"],
            "hasWebLink": s["hasWebLink"],
        }
        if s["icon"]:
            name, category, symbol = s["icon"]
            fields["iconImage"] = self.add({"name": self.string(name), "category": self.string(category),
                                            "symbol": self.string(symbol), "$class": self.cls("IconImage")})
        if s["image"]:
            fields["image2"] = self.add({"$0": self.data(s["image"]), "$class": self.cls("PortableImage")})
        fields["$class"] = self.cls("IdeaProxy")
        return self.add(fields)

    def index(self):
        top = {"fileFormatVersion": 1, "appInstance": self.string("MAC_815000000.000000")}
        top["proxyList"] = self.array([self.proxy(s) for s in SUMMARIES])
        return plistlib.dumps({"$archiver": "NSKeyedArchiver", "$version": 100000, "$top": top,
                               "$objects": self.objects}, fmt=plistlib.FMT_BINARY, sort_keys=False)


def expected():
    out = []
    for s in SUMMARIES:
        out.append({"filename": s["filename"], "identifier": s["identifier"], "text": s["text"],
                    "color": s["color"], "itemCount": s["itemCount"], "ideaType": s["ideaType"],
                    "hasNote": s["hasNote"], "hasWebLink": s["hasWebLink"],
                    "created": (REFERENCE + datetime.timedelta(seconds=s["created"])).strftime("%Y-%m-%dT%H:%M:%SZ"),
                    "modified": (REFERENCE + datetime.timedelta(seconds=s["modified"])).strftime("%Y-%m-%dT%H:%M:%SZ"),
                    "icon": s["icon"][0] if s["icon"] else None,
                    "imageBytes": len(s["image"]) if s["image"] else 0})
    return out


def main():
    os.makedirs(OUT, exist_ok=True)
    with open(os.path.join(OUT, "plain.index"), "wb") as f:
        f.write(Archive(False).index())
    with open(os.path.join(OUT, "mutable.index"), "wb") as f:
        f.write(Archive(True).index())
    with open(os.path.join(OUT, "expected.json"), "w", encoding="utf-8") as f:
        json.dump({"summaries": expected()}, f, indent=1, ensure_ascii=False)
        f.write("\n")


if __name__ == "__main__":
    main()
