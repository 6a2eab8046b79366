"""The torvexin package on two virtual recorders (a DVD-R and a DVD+RW), in the order a host
uses them: find, burn with verification, read back, and the ways a burn ends early."""

import io
import os
import tempfile
import unittest
from pathlib import Path

import torvexin


class TorvexinTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = Path(tempfile.mkdtemp(dir=os.environ["TMPDIR"]))
        (cls.folder / "docs").mkdir()
        cls.text = "Torvexin from Python\n".encode()
        cls.data = os.urandom(300_000)
        (cls.folder / "README.TXT").write_bytes(cls.text)
        (cls.folder / "docs" / "data.bin").write_bytes(cls.data)

    def test_1_drives(self):
        found = torvexin.drives()
        self.assertEqual(len(found), 2)
        self.assertTrue(all(d.vendor and d.product for d in found))
        self.assertIn(torvexin.Media.DVD_R, found[0].capabilities)
        self.assertRegex(torvexin.version(), r"^1\.3\.\d+\.\d+$")

    def test_2_burn_verify_read_back(self):
        events = []
        with torvexin.open_drive(0) as recorder:
            self.assertTrue(recorder.disc_info().blank)
            recorder.burn_data(self.folder, label="PYTEST", verify=True,
                               progress=lambda *event: events.append(event))
            kinds = {event for event, _, _ in events}
            self.assertLessEqual({torvexin.Event.WRITE, torvexin.Event.VERIFY}, kinds)
            recorder.load()
            info = recorder.disc_info()
            self.assertFalse(info.blank)
            self.assertEqual(info.media, torvexin.Media.DVD_R)
            with recorder.open_file("/docs/data.bin") as f:
                self.assertEqual(f.size, len(self.data))
                self.assertEqual(f.read(), self.data)
                self.assertEqual(f.seek(-1000, io.SEEK_END), len(self.data) - 1000)
                self.assertEqual(f.read(10), self.data[-1000:-990])
                self.assertEqual(f.tell(), len(self.data) - 990)
                with self.assertRaises(OSError):
                    f.seek(len(self.data) + 1)
            self.assertTrue(f.closed)
            with self.assertRaises(torvexin.TvxError) as missing:
                recorder.open_file("/NOT-THERE")
            self.assertEqual(missing.exception.category, "Disc file system")
            # A burn the library refuses: the DVD-R is written.
            with self.assertRaises(torvexin.TvxError) as refused:
                recorder.burn_data(self.folder)
            self.assertEqual(refused.exception.name, "TVX_ERR_DISC_NOT_WRITABLE")
            self.assertEqual(refused.exception.code, torvexin.Result.TVX_ERR_DISC_NOT_WRITABLE)

    def test_3_stopped_then_burned(self):
        """A progress callable stops the burn by returning False, or by raising (the exception
        comes back out); the DVD+RW then takes a file set and an image."""

        def stop(event, value, total):
            return event != torvexin.Event.WRITE

        def fail(event, value, total):
            if event == torvexin.Event.WRITE:
                raise KeyError("from the callback")

        with torvexin.open_drive(1) as recorder:
            with self.assertRaises(torvexin.TvxError) as stopped:
                recorder.burn_data(self.folder, progress=stop)
            self.assertEqual(stopped.exception.name, "TVX_ERR_CANCELLED")
            recorder.load()  # a burn stopped once under way ejects the disc
            with self.assertRaises(KeyError):
                recorder.burn_data(self.folder, progress=fail)
            recorder.load()
            with self.assertRaises(ValueError):
                torvexin.open_drive(1)
            recorder.burn_files({"/a/b/readme.txt": self.folder / "README.TXT"}, verify=True)
            recorder.load()
            with recorder.open_file("/a/b/readme.txt") as f:
                self.assertEqual(f.read(), self.text)
        with self.assertRaises(ValueError):
            recorder.disc_info()


if __name__ == "__main__":
    unittest.main()
