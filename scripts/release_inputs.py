# Checks of what the installer's release tools are given: readable files,
# and Ed25519 keys read with the openssl command line as setup needs them.
"""Inputs of pack-setup and sign-agent.

Every input must be a readable regular file. Keys: `setup` verifies
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
import subprocess

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
    raise InputProblem("%s '%s' is not an Ed25519 public key in PEM" % (role, path))


def public_key_pem(der: bytes) -> bytes:
    """The PEM text of a DER public key, as PEM_read_bio_PUBKEY reads it."""
    body = base64.encodebytes(der).replace(b"\n", b"")
    lines = [body[i:i + 64] for i in range(0, len(body), 64)]
    return b"-----BEGIN PUBLIC KEY-----\n" + b"\n".join(lines) + b"\n-----END PUBLIC KEY-----\n"
