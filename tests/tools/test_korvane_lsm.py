"""korvane-lsm end to end. The OME-TIFF output is read back by tifffile (and by libtiff's tiffcp for
LZW, which Debian's tifffile cannot decode) and compared with the LSM's own directories."""
import json
import os
import signal
import subprocess
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

import numpy as np
import tifffile

TOOL = os.environ["KORVANE_LSM"]
WRITE_STACK = os.environ["KORVANE_WRITE_STACK"]
REALDATA = os.environ.get("KORVANE_REALDATA_DIR", "")
OME = "{http://www.openmicroscopy.org/Schemas/OME/2016-06}"



# OME-XML (2016-06) rules checked offline: element order, IDs and references, required attributes,
# enumerations and units, as the schema states them for the elements korvane-lsm writes.
ORDER = {
    "OME": ["Rights", "Project", "Dataset", "Folder", "Experiment", "Plate", "Screen", "Experimenter",
            "ExperimenterGroup", "Instrument", "Image", "StructuredAnnotations", "ROI"],
    "Image": ["AcquisitionDate", "ExperimenterRef", "Description", "ExperimentRef", "ExperimenterGroupRef",
              "InstrumentRef", "ObjectiveSettings", "ImagingEnvironment", "StageLabel", "Pixels", "ROIRef",
              "MicrobeamManipulationRef", "AnnotationRef"],
    "Instrument": ["Microscope", "Laser", "Detector", "Objective", "FilterSet", "Filter", "Dichroic", "AnnotationRef"],
    "Pixels": ["Channel", "TiffData", "Plane"],
    "Channel": ["LightSourceSettings", "DetectorSettings", "FilterSetRef", "AnnotationRef", "LightPath"],
    "LightPath": ["ExcitationFilterRef", "DichroicRef", "EmissionFilterRef", "AnnotationRef"],
    "Filter": ["TransmittanceRange", "AnnotationRef"],
}
IDS = {"Experimenter": r"Experimenter:\d+", "Instrument": r"Instrument:\d+", "Image": r"Image:\d+",
       "Pixels": r"Pixels:\d+", "Channel": r"Channel:\d+:\d+", "Laser": r"LightSource:\d+:\d+",
       "Detector": r"Detector:\d+:\d+", "Objective": r"Objective:\d+:\d+", "Filter": r"Filter:\d+:\d+"}
REFS = {"ExperimenterRef": "Experimenter", "InstrumentRef": "Instrument", "ObjectiveSettings": "Objective",
        "LightSourceSettings": "Laser", "DetectorSettings": "Detector", "EmissionFilterRef": "Filter"}
REQUIRED = {"Pixels": "DimensionOrder Type SizeX SizeY SizeZ SizeC SizeT", "Plane": "TheZ TheT TheC",
            **{name: "ID" for name in [*IDS, *REFS]}}
ENUMS = {
    "Pixels Type": "int8 int16 int32 uint8 uint16 uint32 float double complex double-complex bit",
    "Pixels DimensionOrder": "XYZCT XYZTC XYCTZ XYCZT XYTCZ XYTZC",
    "Objective Immersion": "Oil Water WaterDipping Air Multi Glycerol Other",
    "Objective Correction": "UV PlanApo PlanFluor SuperFluor VioletCorrected Achro Achromat Fluor Fl Fluar Neofluar "
                            "Fluotar Apo PlanNeofluar Other",
    "ObjectiveSettings Medium": "Air Oil Water Glycerol Other",
    "Laser Type": "Excimer Gas MetalVapor SolidState Dye Semiconductor FreeElectron Other",
    "Laser LaserMedium": "Cu Ag ArFl ArCl KrFl KrCl XeFl XeCl XeBr N Ar Kr Xe HeNe HeCd CO CO2 H2O HFl NdGlass NdYAG "
                         "ErGlass ErYAG HoYLF HoYAG Ruby TiSapphire Alexandrite Rhodamine6G CoumarinC30 GaAs GaAlAs "
                         "EMinus Other",
    "Detector Type": "CCD IntensifiedCCD AnalogVideo PMT Photodiode Spectroscopy LifetimeImaging "
                     "CorrelationSpectroscopy FTIR EMCCD APD CMOS EBCCD Other",
    "Filter Type": "Dichroic LongPass ShortPass BandPass MultiPass NeutralDensity Tuneable Other",
    "Channel IlluminationType": "Transmitted Epifluorescence Oblique NonLinear Other",
    "Channel ContrastMethod": "Brightfield Phase DIC HoffmanModulation ObliqueIllumination PolarizedLight Darkfield "
                              "Fluorescence Other",
    "Channel AcquisitionMode": "WideField LaserScanningConfocalMicroscopy SpinningDiskConfocal SlitScanConfocal "
                               "MultiPhotonMicroscopy StructuredIllumination SingleMoleculeImaging "
                               "TotalInternalReflection FluorescenceLifetime SpectralImaging "
                               "FluorescenceCorrelationSpectroscopy NearFieldScanningOpticalMicroscopy "
                               "SecondHarmonicGenerationImaging PALM STORM STED TIRF FSM LCM Other BrightField "
                               "SweptFieldConfocal SPIM",
}
LENGTH, TIME = "m mm µm nm pm Å", "s ms µs ns"
UNITS = {"PhysicalSizeX": LENGTH, "PhysicalSizeY": LENGTH, "PhysicalSizeZ": LENGTH, "PinholeSize": LENGTH,
         "Wavelength": LENGTH, "ExcitationWavelength": LENGTH, "EmissionWavelength": LENGTH, "CutIn": LENGTH,
         "CutOut": LENGTH, "TimeIncrement": TIME, "DeltaT": TIME, "Power": "W mW µW"}
# Numbers and the smallest value the schema allows (positive where it says PositiveFloat or PositiveInt).
NUMBERS = {"PhysicalSizeX": 0, "PhysicalSizeY": 0, "PhysicalSizeZ": 0, "PinholeSize": None, "Wavelength": 0,
           "ExcitationWavelength": 0, "EmissionWavelength": 0, "CutIn": 0, "CutOut": 0, "TimeIncrement": None,
           "DeltaT": None, "Power": None, "LensNA": None, "NominalMagnification": None, "Gain": None,
           "AmplificationGain": None, "Offset": None, "Zoom": None, "Attenuation": None, "SignificantBits": 0,
           "SizeX": 0, "SizeY": 0, "SizeZ": 0, "SizeC": 0, "SizeT": 0, "TheZ": None, "TheC": None, "TheT": None}


def check_ome(test, xml):
    """Checks OME-XML against the rules above and returns its root."""
    subprocess.run(["xmllint", "--noout", "-"], input=xml.encode(), check=True)
    root, ids = ET.fromstring(xml), {}
    for element in root.iter():
        tag = element.tag.removeprefix(OME)
        children = [child.tag.removeprefix(OME) for child in element]
        ranks = [ORDER[tag].index(child) for child in children] if tag in ORDER else children
        test.assertEqual(ranks, sorted(ranks) if tag in ORDER else [], f"children of {tag}")
        for name in REQUIRED.get(tag, "").split():
            test.assertIn(name, element.attrib, tag)
        if tag in IDS:
            test.assertRegex(element.get("ID"), f"^{IDS[tag]}$")
            test.assertNotIn(element.get("ID"), ids)
            ids[element.get("ID")] = tag
        for name, value in element.attrib.items():
            if f"{tag} {name}" in ENUMS:
                test.assertIn(value, ENUMS[f"{tag} {name}"].split(), f"{tag} {name}")
            if name.endswith("Unit"):
                test.assertIn(name[:-4], element.attrib)
                test.assertIn(value, UNITS[name[:-4]].split(), f"{tag} {name}")
            if name in NUMBERS:
                test.assertGreater(float(value), NUMBERS[name] if NUMBERS[name] is not None else float("-inf"), name)
    for element in root.iter():
        if element.tag.removeprefix(OME) in REFS:
            test.assertEqual(ids.get(element.get("ID")), REFS[element.tag.removeprefix(OME)], element.get("ID"))
    pixels = root.find(f"{OME}Image/{OME}Pixels")
    planes = np.prod([int(pixels.get(f"Size{axis}")) for axis in "ZCT"])
    test.assertEqual([len(pixels.findall(f"{OME}{tag}")) for tag in ("Channel", "TiffData", "Plane")],
                     [int(pixels.get("SizeC")), planes, planes])
    return root


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True, errors="surrogateescape")


def tifffile_record_key(name):
    """The name tifffile gives a record field of ours (it calls intensityDataType DataType)."""
    key = name.removesuffix("_m").lower()
    return {"datatype": "typeofdata", "intensitydatatype": "datatype"}.get(key, key)


def lsm_planes(path):
    """The LSM's image directories (every second one) as a T, C, Z, Y, X array, via tifffile. An image may
    hold several planes of Y rows each, one after the other, as a line scan holds its timepoints."""
    with tifffile.TiffFile(path) as tif:
        info = tif.lsm_metadata
        t, z, c, y = info["DimensionTime"], info["DimensionZ"], info["DimensionChannels"], info["DimensionY"]
        images = np.stack([page.asarray() for page in tif.pages[::2]])
    images = images.reshape(len(images), c, -1, y, images.shape[-1])  # image, channel, plane in it, row, column
    planes = images.transpose(0, 2, 1, 3, 4).reshape(t, z, c, y, images.shape[-1])
    return planes.transpose(0, 2, 1, 3, 4)


def ome_series(path, test):
    """The first series as T, C, Z, Y, X, and the OME Pixels element, its OME-XML checked."""
    with tifffile.TiffFile(path) as tif:
        assert tif.is_ome, path
        series = tif.series[0]
        data, axes = series.asarray(), series.axes
        pixels = check_ome(test, tif.ome_metadata).find(f"{OME}Image/{OME}Pixels")
    for axis in "TCZYX":
        if axis not in axes:
            data, axes = data[np.newaxis], axis + axes
    return data.transpose([axes.index(a) for a in "TCZYX"]), pixels


class KorvaneLsmTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.dir = self.folder.name

    def tearDown(self):
        self.folder.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def stack(self, name, x, y, z, c, t, code, **extra):
        path = self.path(name)
        settings = [f"{key}={value!r}" for key, value in extra.items()]
        subprocess.run([WRITE_STACK, path, *map(str, (x, y, z, c, t, code)), *settings], check=True)
        return path

    def convert(self, source, *options, name="out.ome.tif"):
        out = self.path(name)
        result = run("convert", source, out, *options)
        self.assertEqual(result.returncode, 0, result.stderr)
        return out

    def test_round_trip_keeps_pixels_and_metadata(self):
        for code, dtype in ((1, "uint8"), (2, "uint16"), (3, "uint16"), (5, "float")):
            with self.subTest(code=code):
                lsm = self.stack(f"{code}.lsm", 37, 19, 3, 3, 4, code)
                data, pixels = ome_series(self.convert(lsm, "--force"), self)
                np.testing.assert_array_equal(data, lsm_planes(lsm))
                self.assertEqual(str(data.dtype), {"float": "float32"}.get(dtype, dtype))
                self.assertEqual(pixels.get("DimensionOrder"), "XYZCT")
                self.assertEqual(pixels.get("Type"), dtype)
                self.assertEqual(pixels.get("SignificantBits"), "12" if code == 2 else None)  # no detector record
                self.assertEqual([float(pixels.get(f"PhysicalSize{a}")) for a in "XYZ"], [0.15, 0.25, 1.2])
                channels = pixels.findall(f"{OME}Channel")
                # The test writer's red, green and blue, as OME's signed RGBA.
                self.assertEqual([int(ch.get("Color")) for ch in channels], [-16776961, 16711935, 65535])
                self.assertEqual(len(pixels.findall(f"{OME}TiffData")), 3 * 3 * 4)

                info = json.loads(run("info", "--json", lsm).stdout)
                self.assertEqual([info[k] for k in ("sizeX", "sizeY", "sizeZ", "sizeC", "sizeT")], [37, 19, 3, 3, 4])
                self.assertEqual(info["voxelSize"], [0.15, 0.25, 1.2])
                self.assertEqual(info["channelColors"], ["#ff0000", "#00ff00", "#0000ff"])
                self.assertEqual(info["channelNames"], ["Channel 0", "Channel 1", "Channel 2"])
                self.assertEqual(info["timeInterval"], 2.5)
                self.assertEqual(info["fileSize"], os.path.getsize(lsm))
                self.assertEqual(set(info["pixelTypes"]), {pixelTypes[code]})

    def test_each_stage_position_becomes_an_image(self):
        lsm = self.stack("positions.lsm", 12, 5, 2, 1, 3 * 2, 3, positions=2)
        with tifffile.TiffFile(lsm) as tif:
            planes = np.stack([page.asarray() for page in tif.pages[::2]]).reshape(2, 3, 1, 2, 5, 12)
        with tifffile.TiffFile(self.convert(lsm)) as tif:
            root = check_ome(self, tif.ome_metadata)
            self.assertEqual([image.get("Name") for image in root.iter(f"{OME}Image")],
                             ["positions.lsm, position 1", "positions.lsm, position 2"])
            for position, series in enumerate(tif.series):
                np.testing.assert_array_equal(series.asarray().reshape(planes[position].shape), planes[position])

    def test_compressed_and_bigtiff_output_decode_to_the_same_pixels(self):
        lsm = self.stack("u16.lsm", 300, 70, 2, 3, 2, 3)
        expected = lsm_planes(lsm)
        for options, tiff_code in ((["--compression", "deflate"], 8), (["--compression", "lzw"], 5), (["--bigtiff"], 1)):
            with self.subTest(options=options):
                out = self.convert(lsm, "--force", *options)
                with tifffile.TiffFile(out) as tif:
                    self.assertEqual(tif.pages[0].compression, tiff_code)
                    self.assertEqual(tif.is_bigtiff, options == ["--bigtiff"])
                if tiff_code == 5:
                    plain = self.path("decoded.tif")
                    subprocess.run(["tiffcp", "-c", "none", out, plain], check=True)
                    out = plain
                np.testing.assert_array_equal(ome_series(out, self)[0], expected)

    def test_real_files_convert_exactly(self):
        files = sorted(f for f in os.listdir(REALDATA) if f.endswith(".lsm")) if os.path.isdir(REALDATA) else []
        if not files:
            self.skipTest(f"no real LSM files in '{REALDATA}'")
        for name in files:
            with self.subTest(file=name):
                lsm = os.path.join(REALDATA, name)
                data, pixels = ome_series(self.convert(lsm, "--force"), self)
                np.testing.assert_array_equal(data, lsm_planes(lsm))
                info = json.loads(run("info", "--json", lsm).stdout)
                with tifffile.TiffFile(lsm) as tif:
                    colors = tif.lsm_metadata["ChannelColors"]
                    self.assertEqual(info["channelNames"], colors["ColorNames"])
                    self.assertAlmostEqual(info["voxelSize"][0], tif.lsm_metadata["VoxelSizeX"] * 1e6, places=12)
                    record = {tifffile_record_key(k): v for k, v in info["lsmRecord"].items()}
                    theirs = {k.lower(): v for k, v in tif.lsm_metadata.items() if k.lower() in record}
                    self.assertEqual(len(theirs), len(record))
                    self.assertEqual({k: record[k] for k in theirs}, theirs)
                self.assertEqual([ch.get("Name") for ch in pixels.findall(f"{OME}Channel")], info["channelNames"])

    def test_project_each_method_over_a_z_range_as_numpy_does(self):
        methods = {"max": lambda a: a.max(2), "min": lambda a: a.min(2), "mean": lambda a: a.mean(2),
                   "sum": lambda a: a.astype(np.float64).sum(2), "sd": lambda a: a.std(2, ddof=1)}
        for code, dtype in ((1, "uint8"), (3, "uint16"), (5, "float32")):
            lsm = self.stack(f"{dtype}.lsm", 23, 11, 5, 3, 2, code)
            planes = lsm_planes(lsm)[:, :, 1:4]
            for method, reduce in methods.items():
                with self.subTest(dtype=dtype, method=method):
                    out = self.path(f"{method}.ome.tif")
                    result = run("project", "--method", method, "--z", "1:3", "--force", lsm, out)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    data, pixels = ome_series(out, self)
                    kept = dtype if method in ("max", "min") else "uint32" if method == "sum" and code != 5 else "float32"
                    self.assertEqual((str(data.dtype), pixels.get("SizeZ"), pixels.get("SizeC")), (kept, "1", "3"))
                    np.testing.assert_allclose(data[:, :, 0], reduce(planes), rtol=1e-6)

    def test_real_files_acquisition_in_info_json_and_ome_xml(self):
        # Values read by hand from the files' blocks; a path of keys into info --json's "acquisition",
        # or an OME element and attribute ("Channel:0:1 EmissionWavelength").
        expected = {
            "sample01_3ch_512_u8.lsm": {
                ("recording", "objective"): "Plan-Apochromat 40x/1.3 Oil DIC M27",
                ("recording", "startTime"): "2017-06-02T15:37:43", ("lasers", 0, "name"): "HeNe543",
                ("lasers", 0, "wavelength"): 543, ("lasers", 0, "power"): 1.2,
                ("tracks", 1, "detectionChannels", 0, "gain"): 550.2203, ("tracks", 1, "dataChannels", 0, "name"): "ChS1",
                "Objective:0:0 NominalMagnification": "40", "Objective:0:0 LensNA": "1.3",
                "Objective:0:0 Immersion": "Oil", "Objective:0:0 Correction": "PlanApo",
                "Channel:0:1 ExcitationWavelength": "488", "Channel:0:1 EmissionWavelength": 521.365,
                "Channel:0:1 PinholeSize": "41.0638", "Plane0 DeltaT": "0", "Image:0 AcquisitionDate": "2017-06-02T15:37:43",
                "Experimenter:0 UserName": "LSMuser2", "Microscope Model": "LSM 710, AxioObserver"},
            "sample02_spectral32ch_256_u8.lsm": {
                ("spectralScan",): True, ("channelWavelengths", 0): [410.245, 419.142],
                ("channelWavelengths", 31): [686.057, 694.954], ("tracks", 0, "name"): "Lambda",
                "Channel:0:0 AcquisitionMode": "SpectralImaging", "Channel:0:0 ExcitationWavelength": "740",
                "LightSource:0:0 LaserMedium": "TiSapphire", "Objective:0:0 Immersion": "Multi"},
            "sample05_3ch_512_u8.lsm": {
                ("lasers", 1, "name"): "HeNe1", ("timers", 0, "name"): "Timer1",
                "Channel:0:1 IlluminationType": "Transmitted", "Filter:0:0 Model": "BP 505-530",
                "Channel:0:0 EmissionWavelength": "517.5", "LightSource:0:0 Model": "Argon/2"},
            "sample07_xyt_128_t50_u8.lsm": {
                ("scanTypeName",): "time series x-y", ("recording", "startTime"): "2022-10-17T18:39:54",
                ("timeStamps", 0): 19639.415952484847, ("timeStamps", 1): 19639.51446109091,
                ("tracks", 0, "detectionChannels", 0, "detector"): "APD2", ("channelWavelengths", 0): None,
                "Pixels:0 SizeT": "50", "Plane49 DeltaT": 4.826944969696342,
                "Detector:0:0 Type": "APD", "Objective:0:0 Immersion": "Water", "Filter:0:0 Type": "BandPass"},
            "sample08_linescan_1024x1000_u8.lsm": {
                ("scanType",): 2, ("scanTypeName",): "line scan", "Pixels:0 SizeY": "1", "Pixels:0 SizeT": "1000",
                "Plane999 DeltaT": 13.081693090909539, "Image:0 AcquisitionDate": "2022-08-04T13:58:28"},
        }
        for name, values in expected.items():
            lsm = os.path.join(REALDATA, name)
            if not os.path.exists(lsm):
                print(f"skipping {name}: not in '{REALDATA}'")
                continue
            with self.subTest(file=name):
                acquisition = json.loads(run("info", "--json", lsm).stdout)["acquisition"]
                with tifffile.TiffFile(self.convert(lsm, "--force")) as tif:
                    root = check_ome(self, tif.ome_metadata)
                # Elements by ID (the element itself, not the references after it) or by name.
                elements = {e.get("ID", e.tag.removeprefix(OME)): e for e in reversed(list(root.iter()))}
                elements.update((f"Plane{k}", e) for k, e in enumerate(root.iter(f"{OME}Plane")))
                for key, value in values.items():
                    if isinstance(key, str):
                        element, attribute = key.split()
                        found = elements[element].get(attribute) if attribute != "AcquisitionDate" else \
                            elements[element].findtext(f"{OME}AcquisitionDate")
                        found = float(found) if isinstance(value, float) else found
                    else:
                        found = acquisition
                        for step in key:
                            found = found[step]
                    if isinstance(value, (float, list)):
                        np.testing.assert_allclose(found, value, atol=1e-3, err_msg=str(key))
                    else:
                        self.assertEqual(found, value, key)

    def test_info_json_keeps_record_doubles_exactly_and_the_printout_as_it_was(self):
        extremes = {"voxelSizeX": 1e-310, "voxelSizeY": 5e-324, "originX": -1.7976931348623157e308,
                    "originY": 0.1 + 0.2, "originZ": -2.2250738585072014e-308, "timeInterval": 1e300}
        lsm = self.stack("extreme.lsm", 8, 4, 1, 1, 1, 1, **extremes)
        result = run("info", "--json", lsm)
        self.assertEqual(result.returncode, 0, result.stderr)
        record = json.loads(result.stdout)["lsmRecord"]
        names = {"timeInterval": "TimeIntervall"}
        self.assertEqual({k: record[names.get(k, k + "_m")] for k in extremes}, extremes)
        printout = run("info", lsm).stdout
        for line in ("double voxelSizeX_m           = 1e-310", "double voxelSizeY_m           = 4.94066e-324",
                     "double originX_m              = -1.79769e+308", "double originY_m              = 0.3",
                     "double originZ_m              = -2.22507e-308", "double TimeIntervall          = 1e+300"):
            self.assertIn(line + "\n", printout)

    def test_signal_mid_conversion_ends_it_cleanly_unless_ignored_at_start(self):
        lsm = self.stack("big.lsm", 1024, 1024, 4, 3, 2, 3)
        for sig, ignored in ((signal.SIGHUP, True), (signal.SIGTERM, False)):
            with self.subTest(signal=sig.name, ignored=ignored):
                out = self.path("out.ome.tif")
                start = (lambda: signal.signal(sig, signal.SIG_IGN)) if ignored else None  # as nohup does
                child = subprocess.Popen([TOOL, "convert", "--compression", "deflate", "--force", lsm, out],
                                         preexec_fn=start, stderr=subprocess.PIPE)
                parts = lambda: [f for f in os.listdir(self.dir) if ".part-" in f]
                deadline = time.monotonic() + 60
                while not any(os.path.getsize(self.path(f)) for f in parts()) and time.monotonic() < deadline:
                    time.sleep(0.005)
                child.send_signal(signal.SIGSTOP)  # so that it is still converting when the signal comes
                self.assertTrue(parts(), "the conversion ended before the signal")
                child.send_signal(sig)
                child.send_signal(signal.SIGCONT)
                child.communicate()
                if ignored:
                    self.assertEqual(child.returncode, 0)
                    np.testing.assert_array_equal(ome_series(out, self)[0], lsm_planes(lsm))
                    os.remove(out)
                else:
                    self.assertEqual(child.returncode, -sig)
                self.assertEqual(sorted(os.listdir(self.dir)), ["big.lsm"])

    def test_file_names_pass_as_bytes(self):
        folder = os.fsencode(self.dir)
        lsm, out = os.path.join(folder, b"caf\xe9 scan.lsm"), os.path.join(folder, b"r\xe9sultat.ome.tif")
        subprocess.run([WRITE_STACK, lsm, *map(str, (16, 8, 2, 3, 1, 1))], check=True)
        info = subprocess.run([TOOL, "info", "--json", lsm], capture_output=True)
        self.assertEqual(info.returncode, 0, info.stderr)
        self.assertEqual(json.loads(info.stdout)["file"], lsm.decode("latin-1"))  # shown as its code page
        result = subprocess.run([TOOL, "convert", lsm, out], capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(folder)), [b"caf\xe9 scan.lsm", b"r\xe9sultat.ome.tif"])
        np.testing.assert_array_equal(ome_series(os.fsdecode(out), self)[0], lsm_planes(os.fsdecode(lsm)))
        with tifffile.TiffFile(os.fsdecode(out)) as tif:
            self.assertEqual(ET.fromstring(tif.ome_metadata).find(f"{OME}Image").get("Name"), "caf\xe9 scan.lsm")

    def test_failures_leave_no_output_and_exit_with_their_status(self):
        text = self.path("notes.lsm")
        with open(text, "w") as f:
            f.write("not a microscope file\n" * 10)
        good = self.stack("good.lsm", 64, 64, 4, 3, 3, 1)
        cut = self.stack("cut.lsm", 64, 64, 4, 3, 3, 1, keep=60)
        # Billions of planes declared: refused before the OME-XML lists them.
        huge = self.stack("huge.lsm", 8, 8, 2, 2, 1, 1, declaredT=2**31 - 1)
        out = self.path("out.ome.tif")
        for args, status, message in (
            (["convert", text, out], 1, "TIFFClientOpen rejected"),
            (["convert", cut, out], 1, "Error while reading"),
            (["info", text], 1, "TIFFClientOpen rejected"),
            (["info", self.path("missing.lsm")], 1, "Failed to open file"),
            ([], 2, "no command"),
            (["show", good], 2, "unknown command"),
            (["convert", good], 2, "IN and OUT"),
            (["convert", good, out, "--compression", "jpeg"], 2, "unknown compression"),
            (["convert", good, good, "--force"], 2, "is the input itself"),
            (["info", good, "--bigtiff"], 2, "info takes no"),
            (["info", good, "--colour"], 2, "Unknown option"),
            (["project", "--method", "median", good, out], 2, "unknown projection method"),
            (["project", good, out], 2, "needs --method"),
            (["project", "--method", "max", "--z", "2:4", good, out], 2, "outside the stack's z planes 0 to 3"),
            (["project", "--method", "max", "--z", "3:1", good, out], 2, "FROM is past TO"),
            (["project", "--method", "max", "--z", "-1:2", good, out], 2, "--z takes FROM:TO"),
            (["project", "--method", "max", cut, out], 1, "Error while reading"),
            (["convert", huge, out], 1, "image directory"),
            (["project", "--method", "sum", huge, out], 1, "image directory"),
        ):
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertEqual(sorted(os.listdir(self.dir)), ["cut.lsm", "good.lsm", "huge.lsm", "notes.lsm"])

        # A cut z stack still projects the planes it holds.
        early = run("project", "--method", "max", "--z", "0:1", self.stack("cutz.lsm", 64, 64, 8, 1, 1, 1, keep=50), out)
        self.assertEqual(early.returncode, 0, early.stderr)
        os.remove(out)

        with open(out, "wb") as f:
            f.write(b"keep me")
        result = run("convert", good, out)
        self.assertEqual((result.returncode, open(out, "rb").read()), (1, b"keep me"), result.stderr)
        self.assertIn("--force", result.stderr)
        self.assertEqual(run("convert", good, out, "--force").returncode, 0)
        self.assertTrue(tifffile.TiffFile(out).is_ome)


pixelTypes = {1: "TYPE_UINT8", 2: "TYPE_UINT16", 3: "TYPE_UINT16", 5: "TYPE_FLOAT"}

if __name__ == "__main__":
    unittest.main()
