"""The driver package's catalogue, USB_DSP.cat, as Windows reads it: a
PKCS#7 signed-data whose content is a certificate trust list (CTL) of
catalogue members, one per file of the package, each carrying the file's
hash.  Read and written with asn1crypto (Debian's python3-asn1crypto);
only the Authenticode hash of a PE image is computed here.

Shared by scripts/check-package and scripts/make-catalog.
"""
import hashlib
import os
import re
import struct
import sys

# Debian's python3-asn1crypto is installed for the system interpreter; a
# python3 of its own first on PATH (pyenv) may lack it, so hand over to
# the system's.
SYSTEM_PYTHON = "/usr/bin/python3"
try:
    from asn1crypto import algos, cms, core, parser, x509
except ImportError:
    if os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON) \
            and os.access(SYSTEM_PYTHON, os.X_OK):
        os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON] + sys.argv)
    print(f"{os.path.basename(sys.argv[0])}: needs Debian's python3-asn1crypto "
          "(scripts/bootstrap installs it)", file=sys.stderr)
    sys.exit(2)

INF_NAME = "QX_DSP_USB.inf"
CATALOGUE_NAME = "USB_DSP.cat"
# The files the installer copies, by folder of the package.
LAYOUT = [
    ("", [INF_NAME, CATALOGUE_NAME]),
    ("amd64", ["libusbDspQx.dll", "libusbDspQx.sys"]),
    ("ia64", ["libusbDspQx.dll", "libusbDspQx.sys"]),
    ("x86", ["libusbDspQx.sys", "libusbDspQx_x86.dll"]),
]


def member_files():
    """The package files the catalogue must cover, as paths relative to the
    package folder with forward slashes: every file the installer copies
    but the catalogue itself."""
    return [f"{sub}/{name}" if sub else name
            for sub, names in LAYOUT for name in names if name != CATALOGUE_NAME]


# Object identifiers of Windows' catalogues (wincrypt.h, mscat.h, wintrust.h).
OID_CTL = "1.3.6.1.4.1.311.10.1"
OID_CATALOG_LIST = "1.3.6.1.4.1.311.12.1.1"
OID_CATALOG_LIST_MEMBER = "1.3.6.1.4.1.311.12.1.2"    # SHA-1 members
OID_CATALOG_LIST_MEMBER2 = "1.3.6.1.4.1.311.12.1.3"   # SHA-256 members
OID_CAT_NAMEVALUE = "1.3.6.1.4.1.311.12.2.1"
OID_CAT_MEMBERINFO = "1.3.6.1.4.1.311.12.2.2"
OID_SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
OID_SPC_PE_IMAGE_DATA = "1.3.6.1.4.1.311.2.1.15"
OID_SPC_CAB_DATA = "1.3.6.1.4.1.311.2.1.25"
# Subject interface packages that hash a member: PE images, flat files.
SIP_PE_IMAGE = "{C689AAB8-8E78-11D0-8C47-00C04FC295EE}"
SIP_FLAT_FILE = "{DE351A42-8E59-11D0-8C47-00C04FC295EE}"
MEMBER_CERT_VERSION = 0x200
# CRYPTCAT_ATTR_AUTHENTICATED | CRYPTCAT_ATTR_DATAASCII | CRYPTCAT_ATTR_NAMEASCII
NAMEVALUE_FLAGS = 0x10010001

# The operating-system attribute's entries: platform 2 (Windows NT) and
# the version; what each means to a user.
OS_ATTR_NAMES = {
    "2:5.0": "Windows 2000",
    "2:5.1": "Windows XP",
    "2:5.2": "Windows XP x64 and Server 2003",
    "2:6.0": "Windows Vista",
    "2:6.1": "Windows 7",
    "2:6.2": "Windows 8",
    "2:6.3": "Windows 8.1",
    "2:10.0": "Windows 10 and 11",
}
OS_ATTR_XP = "2:5.1"


class CatalogueError(Exception):
    """The catalogue cannot be read; the message says why, in one line."""


# --- ASN.1 of a catalogue, declared for asn1crypto -----------------------

class AlgorithmIdentifier(core.Sequence):
    _fields = [("algorithm", core.ObjectIdentifier),
               ("parameters", core.Any, {"optional": True})]


class CatalogNameValue(core.Sequence):
    _fields = [("tag", core.BMPString), ("flags", core.Integer),
               ("value", core.OctetString)]


class CatalogMemberInfo(core.Sequence):
    _fields = [("subject_guid", core.BMPString), ("cert_version", core.Integer)]


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class SpcString(core.Choice):
    _alternatives = [("unicode", core.BMPString, {"implicit": 0}),
                     ("ascii", core.IA5String, {"implicit": 1})]


class SpcLink(core.Choice):
    _alternatives = [("url", core.IA5String, {"implicit": 0}),
                     ("file", SpcString, {"explicit": 2})]


class SpcPeImageData(core.Sequence):
    _fields = [("flags", core.BitString), ("file", SpcLink, {"explicit": 0, "optional": True})]


class SpcDigestInfo(core.Sequence):
    _fields = [("digest_algorithm", algos.DigestAlgorithm), ("digest", core.OctetString)]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue),
               ("message_digest", SpcDigestInfo)]


class SetOfNameValue(core.SetOf):
    _child_spec = CatalogNameValue


class SetOfMemberInfo(core.SetOf):
    _child_spec = CatalogMemberInfo


class SetOfIndirectData(core.SetOf):
    _child_spec = SpcIndirectDataContent


class CatalogAttributeType(core.ObjectIdentifier):
    _map = {OID_CAT_NAMEVALUE: "name_value", OID_CAT_MEMBERINFO: "member_info",
            OID_SPC_INDIRECT_DATA: "indirect_data"}


class CatalogAttribute(core.Sequence):
    _fields = [("type", CatalogAttributeType), ("values", None)]
    _oid_specs = {"name_value": SetOfNameValue, "member_info": SetOfMemberInfo,
                  "indirect_data": SetOfIndirectData}

    def _values_type(self):
        # Values of other types stay unparsed.
        return self._oid_specs.get(self["type"].native, cms.SetOfAny)

    _spec_callbacks = {"values": _values_type}


class CatalogAttributes(core.SetOf):
    _child_spec = CatalogAttribute


class TrustedSubject(core.Sequence):
    _fields = [("identifier", core.OctetString),
               ("attributes", CatalogAttributes, {"optional": True})]


class TrustedSubjects(core.SequenceOf):
    _child_spec = TrustedSubject


class SubjectUsage(core.SequenceOf):
    _child_spec = core.ObjectIdentifier


class CertificateTrustList(core.Sequence):
    _fields = [
        ("version", core.Integer, {"default": 0}),
        ("subject_usage", SubjectUsage),
        ("list_identifier", core.OctetString, {"optional": True}),
        ("sequence_number", core.Integer, {"optional": True}),
        ("this_update", x509.Time),
        ("next_update", x509.Time, {"optional": True}),
        ("subject_algorithm", AlgorithmIdentifier),
        ("trusted_subjects", TrustedSubjects, {"optional": True}),
        ("extensions", x509.Extensions, {"explicit": 0, "optional": True}),
    ]


# --- File hashes ---------------------------------------------------------

def pe_hashed_ranges(data):
    """The byte ranges of a PE image its Authenticode hash covers: all but
    the checksum, the certificate table's directory entry and the
    certificate table (an embedded signature); and how many zero bytes
    follow them.  None when data is not a PE image."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    if optional + 2 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return None
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic == 0x10B:      # PE32
        count_at, directories = optional + 92, optional + 96
    elif magic == 0x20B:    # PE32+
        count_at, directories = optional + 108, optional + 112
    else:
        return None
    checksum = optional + 64
    if directories > len(data):
        return None
    count = struct.unpack_from("<I", data, count_at)[0]
    # IMAGE_DIRECTORY_ENTRY_SECURITY: its "address" is a file offset.
    cert_entry = directories + 4 * 8
    end = len(data)
    cert_at = cert_size = 0
    if count > 4 and cert_entry + 8 <= end:
        cert_at, cert_size = struct.unpack_from("<II", data, cert_entry)
    if not (cert_size and cert_entry + 8 <= cert_at <= end):
        # Unsigned: a signing tool pads the image with zeros to a multiple
        # of 8 bytes before it appends a signature, and hashes that
        # padding; so is an unsigned image hashed (as osslsigncode does).
        ranges = [(0, checksum), (checksum + 4, min(cert_entry, end))]
        if cert_entry + 8 <= end:
            ranges.append((cert_entry + 8, end))
        return ranges, -end % 8
    return [(0, checksum), (checksum + 4, cert_entry), (cert_entry + 8, cert_at),
            (min(cert_at + cert_size, end), end)], 0


def file_hash(data, algorithm):
    """(kind, digest) of a file's bytes as a catalogue member holds it:
    kind "pe" with the Authenticode image hash for a PE image, "flat"
    with the hash of all its bytes otherwise.  algorithm: "sha1" or
    "sha256"."""
    image = pe_hashed_ranges(data)
    digest = hashlib.new(algorithm)
    if image is None:
        digest.update(data)
        return "flat", digest.digest()
    ranges, padding = image
    for start, end in ranges:
        digest.update(data[start:end])
    digest.update(bytes(padding))
    return "pe", digest.digest()


# --- Reading -------------------------------------------------------------

def name_value(attribute_value):
    """(tag, value) of a CAT_NAMEVALUE, the value decoded from UTF-16LE up
    to its terminator."""
    value = attribute_value["value"].native.decode("utf-16-le", errors="replace")
    return attribute_value["tag"].native, value.split("\0", 1)[0]


class Member:
    """One catalogue member: its hash, and the file name and operating
    systems it names, when it names them."""

    def __init__(self, algorithm, digest, kind, file_name, os_attr):
        self.algorithm, self.digest, self.kind = algorithm, digest, kind
        self.file_name, self.os_attr = file_name, os_attr


class Catalogue:
    """What a catalogue says: its members, its operating-system attribute,
    its hardware IDs and its signer."""

    def __init__(self, members, os_attr, hwids, signer):
        self.members, self.os_attr, self.hwids = members, os_attr, hwids
        self.signer = signer


def read_catalogue(data):
    """Parses a catalogue's bytes; raises CatalogueError saying what it is
    not."""
    if not data.startswith(b"\x30"):
        raise CatalogueError("is not a PKCS#7 catalogue (it does not begin as DER data "
                             f"does: {data[:12]!r})")
    try:
        info = cms.ContentInfo.load(data, strict=True)
        if info["content_type"].native != "signed_data":
            raise CatalogueError(f"is a PKCS#7 {info['content_type'].native}, not signed-data")
        signed = info["content"]
        encap = signed["encap_content_info"]
        if encap["content_type"].dotted != OID_CTL:
            raise CatalogueError("is a PKCS#7 signed-data whose content is "
                                 f"{encap['content_type'].dotted}, not a certificate "
                                 "trust list")
        # The CTL sits in [0] as itself, not in an OCTET STRING, as with
        # Authenticode's content: asn1crypto leaves it unparsed (Any).
        ctl = encap["content"].parse(CertificateTrustList)
        usages = [oid.dotted for oid in ctl["subject_usage"]]
        if OID_CATALOG_LIST not in usages:
            raise CatalogueError("is a certificate trust list, but not a catalogue "
                                 f"(its usage is {', '.join(usages) or 'empty'})")
        members = [read_member(subject) for subject in ctl["trusted_subjects"]]
        os_attr, hwids = [], []
        for extension in ctl["extensions"] or []:
            if extension["extn_id"].dotted != OID_CAT_NAMEVALUE:
                continue
            tag, value = name_value(CatalogNameValue.load(extension["extn_value"].native))
            if tag == "OSAttr":
                os_attr = split_list(value)
            elif tag.startswith("HWID"):
                hwids.append(value)
        # asn1crypto parses lazily: a damaged signer shows only here.
        signer = signer_of(signed)
    except CatalogueError:
        raise
    except (ValueError, TypeError, KeyError, AttributeError, IndexError, OverflowError) as e:
        raise CatalogueError(f"is not a PKCS#7 catalogue Windows can read ({first_line(e)})")
    return Catalogue(members, os_attr, hwids, signer)


def first_line(error):
    text = str(error).strip()
    return text.splitlines()[0] if text else type(error).__name__


def split_list(value):
    return [item.strip() for item in value.split(",") if item.strip()]


def read_member(subject):
    algorithm = digest = kind = file_name = None
    os_attr = []
    for attribute in subject["attributes"] or []:
        kind_of = attribute["type"].native
        if kind_of not in CatalogAttribute._oid_specs:
            continue
        for value in attribute["values"]:
            if kind_of == "indirect_data":
                algorithm = value["message_digest"]["digest_algorithm"]["algorithm"].native
                digest = value["message_digest"]["digest"].native
                kind = "pe" if value["data"]["type"].dotted == OID_SPC_PE_IMAGE_DATA else "flat"
            elif kind_of == "name_value":
                tag, text = name_value(value)
                if tag == "File":
                    file_name = text
                elif tag == "OSAttr":
                    os_attr = split_list(text)
    return Member(algorithm, digest, kind, file_name, os_attr)


# --- Writing -------------------------------------------------------------

def name_value_der(tag, value):
    return CatalogNameValue({
        "tag": tag, "flags": NAMEVALUE_FLAGS,
        "value": (value + "\0").encode("utf-16-le")}).dump()


def attribute(kind, value):
    return CatalogAttribute({"type": kind, "values": [value]})


OBSOLETE = "<<<Obsolete>>>"


def indirect_data(kind, algorithm, digest):
    """The SpcIndirectDataContent of a member: what kind of file, and its
    hash; the file link is "<<<Obsolete>>>", as Windows' own tools write."""
    link = SpcLink(name="file", value=SpcString(name="unicode", value=OBSOLETE))
    if kind == "pe":
        value = SpcPeImageData({"flags": core.BitString(()), "file": link})
        data_type = OID_SPC_PE_IMAGE_DATA
    else:
        value = link
        data_type = OID_SPC_CAB_DATA
    return SpcIndirectDataContent({
        "data": {"type": data_type, "value": core.Any.load(value.dump())},
        "message_digest": {"digest_algorithm": {"algorithm": algorithm, "parameters": None},
                           "digest": digest}})


def sorted_set(values):
    """A DER SET OF: its elements in the order of their encodings."""
    return sorted(values, key=lambda v: v.dump())


def der_time(when):
    """A Time as X.509 and PKCS#9 write one: UTCTime, whose two-digit year
    means 1950 to 2049, for those years; GeneralizedTime for the others."""
    if 1950 <= when.year < 2050:
        return x509.Time({"utc_time": when})
    return x509.Time({"general_time": when})


def make_catalogue(files, os_attr, hwids, this_update, algorithm="sha1"):
    """The DER bytes of an unsigned catalogue of files, a list of
    (name Windows shows, bytes), with the operating-system attribute
    os_attr (a list such as ["2:5.1", "2:6.0"]), the hardware IDs hwids
    and this_update (a datetime) as its time.  The same input gives the
    same bytes."""
    os_text = ",".join(os_attr)
    subjects = []
    for name, data in files:
        kind, digest = file_hash(data, algorithm)
        tag = (digest.hex().upper() + "\0").encode("utf-16-le")
        attributes = sorted_set([
            attribute("name_value", CatalogNameValue.load(name_value_der("File", name.lower()))),
            attribute("name_value", CatalogNameValue.load(name_value_der("OSAttr", os_text))),
            attribute("member_info", CatalogMemberInfo({
                "subject_guid": SIP_PE_IMAGE if kind == "pe" else SIP_FLAT_FILE,
                "cert_version": MEMBER_CERT_VERSION})),
            attribute("indirect_data", indirect_data(kind, algorithm, digest)),
        ])
        subjects.append((tag, attributes))
    # Windows' catalogue maker keeps its members ordered by tag.
    subjects.sort(key=lambda s: s[0])
    extensions = [{"extn_id": OID_CAT_NAMEVALUE, "critical": False,
                   "extn_value": name_value_der("OSAttr", os_text)}]
    for number, hwid in enumerate(hwids, 1):
        extensions.append({"extn_id": OID_CAT_NAMEVALUE, "critical": False,
                           "extn_value": name_value_der(f"HWID{number}", hwid)})
    # The list identifier Windows' maker draws at random; derived from the
    # members here, so that the same package gives the same catalogue.
    identifier = hashlib.sha1(b"".join(tag for tag, _ in subjects)).digest()[:16]
    ctl = CertificateTrustList({
        "subject_usage": [OID_CATALOG_LIST],
        "list_identifier": identifier,
        "this_update": der_time(this_update),
        "subject_algorithm": {"algorithm": OID_CATALOG_LIST_MEMBER2 if algorithm == "sha256"
                              else OID_CATALOG_LIST_MEMBER, "parameters": core.Null()},
        "trusted_subjects": [{"identifier": tag, "attributes": attributes}
                             for tag, attributes in subjects],
        "extensions": extensions,
    }, explicit=0)   # the [0] of the signed-data's content
    signed = cms.SignedData({
        "version": "v1",
        "digest_algorithms": [{"algorithm": algorithm, "parameters": None}],
        "encap_content_info": {"content_type": OID_CTL, "content": ctl},
        "signer_infos": [],
    })
    return cms.ContentInfo({"content_type": "signed_data", "content": signed}).dump()


# --- The INF -------------------------------------------------------------

def inf_text(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le", errors="replace")
    return data.decode("utf-8", errors="replace")


def inf_hwids(text):
    """The hardware IDs of the INF's models sections, lower case, once each."""
    found = []
    for match in re.finditer(r"^\s*[^;=\r\n]+=\s*[^,;\r\n]+,\s*([^;\r\n]+)", text, re.MULTILINE):
        for hwid in match.group(1).split(","):
            hwid = hwid.strip().lower()
            if hwid.startswith(("usb\\", "pci\\", "hid\\", "root\\")) and hwid not in found:
                found.append(hwid)
    return found


# --- The signer ----------------------------------------------------------

# Microsoft's hardware signing signs catalogues as this publisher; the
# extended key usage of its certificate tells a certified (HLK) signature
# from an attestation one.
MICROSOFT_HARDWARE_PUBLISHER = "Microsoft Windows Hardware Compatibility Publisher"
EKU_WHQL = "1.3.6.1.4.1.311.10.3.5"
EKU_ATTESTATION = "1.3.6.1.4.1.311.10.3.5.1"
TIMESTAMP_ATTRIBUTES = {"counter_signature", "signature_time_stamp_token",
                        "microsoft_time_stamp_token"}


class Signer:
    """Who signed a catalogue and how Windows treats it.  kind: "none",
    "microsoft-certified", "microsoft-attestation" or "other".
    matches_content: False when the digest the signature covers is not
    that of the catalogue's content (a catalogue changed after it was
    signed, which Windows refuses)."""

    def __init__(self, kind, subject=None, issuer=None, time_stamped=False,
                 matches_content=True):
        self.kind, self.subject, self.issuer = kind, subject, issuer
        self.time_stamped = time_stamped
        self.matches_content = matches_content

    @property
    def microsoft(self):
        return self.kind.startswith("microsoft-")


def signed_digest_matches(signed, info):
    """Whether the message digest info's signature covers is the hash, by
    info's digest algorithm, of the signed-data's content: the CTL's
    contents octets, without its own tag and length, as Authenticode
    hashes non-data content.  Without that attribute the signature is tied
    to no content Windows accepts, so that is no match either."""
    expected = [attr["values"][0].native for attr in info["signed_attrs"] or []
                if attr["type"].native == "message_digest" and len(attr["values"])]
    if not expected:
        return False
    # From the encoding, [0] { CTL }: once read_catalogue has parsed the
    # content, asn1crypto's Any gives the [0]'s contents as its .contents.
    ctl = parser.parse(signed["encap_content_info"]["content"].dump())[4]
    content = parser.parse(ctl)[4]
    digest = hashlib.new(info["digest_algorithm"]["algorithm"].native, content).digest()
    return expected[0] == digest


def signer_of(signed):
    """The Signer of a catalogue's signed-data."""
    if len(signed["signer_infos"]) == 0:
        return Signer("none")
    info = signed["signer_infos"][0]
    matches = signed_digest_matches(signed, info)
    certificate = None
    sid = info["sid"]
    for choice in signed["certificates"] or []:
        if choice.name != "certificate":
            continue
        cert = choice.chosen
        if sid.name == "issuer_and_serial_number":
            if (cert.issuer == sid.chosen["issuer"]
                    and cert.serial_number == sid.chosen["serial_number"].native):
                certificate = cert
        elif cert.key_identifier == sid.chosen.native:
            certificate = cert
    stamped = any(attr["type"].native in TIMESTAMP_ATTRIBUTES
                  for attr in info["unsigned_attrs"] or [])
    if certificate is None:
        return Signer("other", "an unknown signer (its certificate is not in the catalogue)",
                      None, stamped, matches)
    subject = name_text(certificate.subject)
    issuer = name_text(certificate.issuer)
    common_names = certificate.subject.native.get("common_name", "")
    if isinstance(common_names, str):
        common_names = [common_names]
    if MICROSOFT_HARDWARE_PUBLISHER in common_names:
        usages = certificate.extended_key_usage_value
        dotted = [u.dotted for u in usages] if usages else []
        kind = ("microsoft-attestation" if EKU_ATTESTATION in dotted
                else "microsoft-certified")
        return Signer(kind, subject, issuer, stamped, matches)
    return Signer("other", subject, issuer, stamped, matches)


NAME_ABBREVIATIONS = {"common_name": "CN", "organization_name": "O",
                      "organizational_unit_name": "OU", "country_name": "C",
                      "state_or_province_name": "ST", "locality_name": "L"}


def name_text(name):
    """A certificate name as "CN=..., O=...", in the order it is written."""
    parts = []
    for rdn in name.chosen:
        for pair in rdn:
            kind = pair["type"].native
            parts.append(f"{NAME_ABBREVIATIONS.get(kind, kind)}={pair['value'].native}")
    return ", ".join(parts)


def os_names(os_attr):
    return ", ".join(OS_ATTR_NAMES.get(entry, entry) for entry in os_attr)


def signer_note(signer, os_attr, verified_against=None):
    """What Windows does with a catalogue so signed, in one line."""
    if signer.kind == "none":
        return ("not signed: Windows 10 and 11 refuse the package; 32-bit Windows Vista "
                "and 7 warn and let an administrator go on; Windows XP warns")
    stamp = "time-stamped" if signer.time_stamped else "not time-stamped"
    if verified_against:
        told = f"the signature verifies against the root certificate {verified_against}"
    else:
        told = ("the publisher is told by the certificate's name, not verified against "
                "Microsoft's root (give --ca FILE to verify it)")
    if signer.microsoft:
        versions = os_names(os_attr) or "no Windows version (it has no OSAttr)"
        if signer.kind == "microsoft-attestation":
            what = ("an attestation signature: installs without a question on Windows 10 "
                    "and 11 only")
        else:
            what = ("a certified (HLK) signature: installs without a question on Windows "
                    "Vista to 11")
        return (f"signed through Microsoft's hardware signing by {signer.subject}, {stamp}; "
                f"{what}, and only on the versions its OSAttr names: {versions}; {told}")
    return (f"signed by {signer.subject}" + (f" (issued by {signer.issuer})"
                                             if signer.issuer and signer.issuer != signer.subject
                                             else " (self-signed)" if signer.issuer else "")
            + f", {stamp}: not Microsoft's hardware signing, so Windows asks the user "
            "whether to trust this publisher, and no 64-bit Windows loads its kernel "
            "driver outside test-signing mode (since Windows 10 1607 new kernel drivers "
            f"must be signed through Microsoft); {told}")
