"""The stand-in SpVoice (standin_voice.cpp) in a test's own Wine prefix.

register() makes the DLL the SpVoice class of the prefix that WINEPREFIX
names (a test's own copy) and adds two voice tokens: an English one, enumerated first,
and a Chinese one. The program's choice of voice shows in the log as the
token it sets. read_log() returns the calls logged so far.
"""

import json
import os
import subprocess
import tempfile

CLSID_SPVOICE = "{96749377-3391-11D2-9EE3-00C04F797396}"
TOKENS = r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Speech\Voices\Tokens"
# Voice tokens are enumerated in the order of their key names.
ENGLISH_TOKEN = "ZandrelStandInA"
CHINESE_TOKEN = "ZandrelStandInB"

SPF_ASYNC = 0x1
SPF_PURGEBEFORESPEAK = 0x2
SPF_IS_NOT_XML = 0x10
SPEECH_NOTIFICATION = 0x8075


def windows_path(path):
    """A Unix path as Wine's Z: drive shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def register(dll):
    """Registers the stand-in in the prefix of WINEPREFIX (wine must be able
    to run: the caller provides the prefix and, if needed, the display)."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    # The per-user class, which Windows prefers; Wine 8 looks up classes only
    # among the machine's, so there too (the prefix is the test's own copy).
    for root in ("HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"):
        classes = rf"{root}\Software\Classes\CLSID\{CLSID_SPVOICE}"
        lines += [f"[{classes}]", '@="Zandrel stand-in voice"', "",
                  f"[{classes}\\InprocServer32]", f"@={_reg_string(windows_path(dll))}",
                  '"ThreadingModel"="Both"', ""]
    lines += [
        f"[{TOKENS}\\{ENGLISH_TOKEN}]", '@="Zandrel Stand-in English Voice"',
        '"409"="Zandrel Stand-in English Voice"', "",
        f"[{TOKENS}\\{ENGLISH_TOKEN}\\Attributes]", '"Language"="409"',
        '"Name"="Zandrel Stand-in English Voice"', "",
        f"[{TOKENS}\\{CHINESE_TOKEN}]", '@="Zandrel Stand-in Chinese Voice"',
        '"804"="Zandrel 替身中文语音"', "",
        f"[{TOKENS}\\{CHINESE_TOKEN}\\Attributes]", '"Language"="804"',
        '"Name"="Zandrel Stand-in Chinese Voice"', "", "",
    ]
    with tempfile.NamedTemporaryFile("wb", suffix=".reg", delete=False) as reg:
        reg.write("\r\n".join(lines).encode("utf-16"))
    try:
        done = subprocess.run(["wine", "regedit", "/S", windows_path(reg.name)],
                              capture_output=True, timeout=60)
    finally:
        os.unlink(reg.name)
    if done.returncode != 0:
        raise RuntimeError(f"regedit could not register the stand-in voice ({done.returncode})")


def read_log(path):
    """The calls logged so far, oldest first."""
    try:
        with open(path, encoding="ascii") as log:
            return [json.loads(line) for line in log if line.endswith("\n")]
    except FileNotFoundError:
        return []
