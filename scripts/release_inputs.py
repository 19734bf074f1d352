# Checks of what the installer's release tools are given: readable files, the
# stub, ZIP archives, the agent URL, and Ed25519 keys read with the openssl
# command line as setup needs them.
"""Inputs of pack-setup and sign-agent.

Every input must be a readable regular file. The stub must be a linked ELF
executable with nothing appended yet (an installer packed before, or a ZIP
file, would make an installer that cannot run). Archives must be ZIP files;
an agent archive must hold its launcher `install` at its root. The agent URL
must be an absolute http or https URL. Keys: `setup` verifies
downloaded agents with the public key that `pack-setup --agent-key` stores in
its payload as agent-key.pem, and `sign-agent` signs archives with the
private half. Both tools ask the openssl command line to read the key (so a
key is judged by the same library that `setup` verifies with) and then check
the public key's DER form byte for byte: an Ed25519 SubjectPublicKeyInfo is
the algorithm identifier 1.3.101.112 and a 32-byte key, 44 bytes in all.
"""

import base64
import os
import shutil
import stat
import struct
import subprocess
import urllib.parse
import zipfile

# SEQUENCE { SEQUENCE { OID 1.3.101.112 }, BIT STRING (0 unused bits, 32 bytes) }
ED25519_SPKI_PREFIX = bytes.fromhex("302a300506032b6570032100")
ED25519_KEY_BYTES = 32
SIGNATURE_BYTES = 64


class InputProblem(Exception):
    """An input that cannot be used, explained in one line."""


def require_readable_file(path: str, role: str) -> None:
    try:
        info = os.stat(path)
    except OSError as err:
        raise InputProblem("cannot read %s '%s': %s" % (role, path, err.strerror))
    if not stat.S_ISREG(info.st_mode):
        raise InputProblem("%s '%s' is not a regular file" % (role, path))
    try:
        with open(path, "rb") as f:
            f.read(1)
    except OSError as err:
        raise InputProblem("cannot read %s '%s': %s" % (role, path, err.strerror))


ELF_MAGIC = b"\x7fELF"
ELF_CLASS_64, ELF_LITTLE_ENDIAN = 2, 1
ELF_EXECUTABLE_TYPES = (2, 3)  # ET_EXEC, ET_DYN (position-independent)
ELF_HEADER = struct.Struct("<16sHHIQQQIHHHHHH")
ELF_PROGRAM_HEADER = struct.Struct("<IIQQQQQQ")


def elf_image_end(data: bytes) -> int:
    """Where the ELF image in `data` ends: past its header tables (linkers
    and strip write the section headers last) and its segments. Raises
    ValueError for anything that is no 64-bit little-endian executable."""
    if len(data) < ELF_HEADER.size or not data.startswith(ELF_MAGIC):
        raise ValueError("no ELF file")
    (ident, e_type, _, _, entry, phoff, shoff, _, _, phentsize, phnum, shentsize, shnum,
     _) = ELF_HEADER.unpack_from(data)
    if ident[4] != ELF_CLASS_64 or ident[5] != ELF_LITTLE_ENDIAN:
        raise ValueError("no 64-bit little-endian ELF file")
    if e_type not in ELF_EXECUTABLE_TYPES or entry == 0:
        raise ValueError("no ELF executable")
    end = max(ELF_HEADER.size, phoff + phnum * phentsize, shoff + shnum * shentsize)
    for i in range(phnum):
        header = data[phoff + i * phentsize:phoff + (i + 1) * phentsize]
        if len(header) < ELF_PROGRAM_HEADER.size:
            raise ValueError("a truncated ELF file")
        _, _, offset, _, _, filesz, _, _ = ELF_PROGRAM_HEADER.unpack_from(header)
        end = max(end, offset + filesz)
    return end


def require_installer_stub(path: str) -> None:
    """`path` must be the installer stub as linked: an ELF executable that
    ends where its image ends, with no archive appended yet."""
    with open(path, "rb") as f:
        data = f.read()
    try:
        end = elf_image_end(data)
    except ValueError as err:
        raise InputProblem("stub '%s' is not the linked installer stub: %s" % (path, err))
    if end > len(data):
        raise InputProblem("stub '%s' is not the linked installer stub: a truncated ELF file"
                           % path)
    if end < len(data):
        raise InputProblem("stub '%s' already has %d bytes appended (an installer packed "
                           "before?); give the stub as linked, e.g. build/bin/setup-stub"
                           % (path, len(data) - end))


def zip_names(path: str, role: str) -> list:
    """The entry names of the ZIP archive at `path`."""
    try:
        with zipfile.ZipFile(path) as archive:
            return archive.namelist()
    except (zipfile.BadZipFile, zipfile.LargeZipFile, ValueError):
        raise InputProblem("%s '%s' is not a ZIP file" % (role, path))


def require_agent_archive(path: str) -> None:
    """A ZIP file with the agent's launcher `install` at its root."""
    if "install" not in zip_names(path, "archive"):
        raise InputProblem("archive '%s' is no install agent: it has no file 'install' at "
                           "its root" % path)


def require_agent_url(url: str) -> None:
    """An absolute http or https URL: scheme, host, no fragment, printable
    ASCII without blanks (it is stored as one line and read as such)."""
    shown = ascii(url)  # control characters visible, the message one line
    if not url or any(not 0x21 <= ord(c) <= 0x7E for c in url):
        raise InputProblem("agent URL %s holds blanks, control or non-ASCII characters"
                           % shown)
    parts = urllib.parse.urlsplit(url)
    try:
        parts.port  # raises for a port that is no number
    except ValueError:
        raise InputProblem("agent URL %s has a bad port" % shown)
    if parts.scheme.lower() not in ("http", "https") or not parts.hostname or "#" in url:
        raise InputProblem("agent URL %s is not an absolute http or https URL (like "
                           "https://downloads.example.com/agent, without #fragment)" % shown)


def require_openssl() -> None:
    if shutil.which("openssl") is None:
        raise InputProblem("the 'openssl' command is not installed")


def is_ed25519_public_key(der: bytes) -> bool:
    return (len(der) == len(ED25519_SPKI_PREFIX) + ED25519_KEY_BYTES
            and der.startswith(ED25519_SPKI_PREFIX))


def public_key_der(path: str, private: bool, role: str) -> bytes:
    """The DER public key of the Ed25519 key in `path`: a public key in PEM
    or, with `private`, a private key in any form openssl reads. Raises
    InputProblem, naming the file by `role`, for anything else."""
    require_openssl()
    if private:
        args = ["openssl", "pkey", "-in", path]
    else:
        args = ["openssl", "pkey", "-pubin", "-inform", "PEM", "-in", path]
    done = subprocess.run(args + ["-pubout", "-outform", "DER"], stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode == 0 and is_ed25519_public_key(done.stdout):
        return done.stdout
    if private:
        raise InputProblem("%s '%s' is not an Ed25519 private key" % (role, path))
    if is_private_key(path):
        raise InputProblem("%s '%s' is a private key; give its public half (KEY.pub, as "
                           "'openssl pkey -in KEY.pem -pubout -out KEY.pub' writes it)"
                           % (role, path))
    raise InputProblem("%s '%s' is not an Ed25519 public key in PEM" % (role, path))


def is_private_key(path: str) -> bool:
    """Whether openssl reads `path` as a private key (never asking for a
    pass phrase)."""
    done = subprocess.run(["openssl", "pkey", "-in", path, "-noout", "-passin", "pass:"],
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    return done.returncode == 0


def public_key_pem(der: bytes) -> bytes:
    """The PEM text of a DER public key, as PEM_read_bio_PUBKEY reads it."""
    body = base64.encodebytes(der).replace(b"\n", b"")
    lines = [body[i:i + 64] for i in range(0, len(body), 64)]
    return b"-----BEGIN PUBLIC KEY-----\n" + b"\n".join(lines) + b"\n-----END PUBLIC KEY-----\n"
