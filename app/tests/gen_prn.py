#!/usr/bin/python3
"""Writes PCL print files (<case>.prn) as printer drivers spell them: a PJL job header,
page set-up, raster images with palettes, HP-GL/2, macro definitions and calls, text and
form feeds, and damaged ones (cut, binary). cases.txt lists the case names, one a line.

usage: gen_prn.py <folder>
"""
import os
import random
import sys

ESC = b"\x1b"
UEL = ESC + b"%-12345X"


def pjl(*lines, enter=b"@PJL ENTER LANGUAGE=PCL\r\n"):
    return UEL + b"".join(b"@PJL " + line + b"\r\n" for line in lines) + enter


def raster(rows, width=6, seed=1):
    rnd = random.Random(seed)
    out = ESC + b"*r" + str(width * 8).encode() + b"S" + ESC + b"*r1A"
    for _ in range(rows):
        row = bytes(rnd.randrange(256) for _ in range(width))
        out += ESC + b"*b0m" + str(len(row)).encode() + b"W" + row
    return out + ESC + b"*rC"


def page_setup():
    return (ESC + b"E" + ESC + b"&l26a1o0e66F" + ESC + b"&l1X" + ESC + b"&l-180u36Z" +
            ESC + b"*t300R" + ESC + b"&u300D" + ESC + b"*p+1036Y" + ESC + b"&a0G")


def cases():
    c = {}
    c["job"] = (pjl(b"JOB NAME=\"page\"", b"SET RESOLUTION=300", b"SET PAGEPROTECT=AUTO") +
                page_setup() + ESC + b"(8U" + ESC + b"(s1p12v0s3b4099T" + b"Hello, page" +
                raster(4) + b"\x0c" + ESC + b"E" + UEL + b"@PJL EOJ\r\n" + UEL)
    c["macros"] = (ESC + b"&f5Y" + ESC + b"&f0X" + ESC + b"*p100x200Y" + b"Form text" +
                   raster(2, seed=2) + ESC + b"&f1X" + ESC + b"&f5Y" + ESC + b"&f10X" +
                   ESC + b"&f2X" + b"after" + ESC + b"&f6Y" + ESC + b"&f0X" + ESC + b"&f9Y" +
                   ESC + b"&f3X" + b"inner" + ESC + b"&f1X" + ESC + b"&f4X" + ESC + b"&f9X")
    c["palette"] = (ESC + b"&p3S" + ESC + b"&p3I" + ESC + b"*v6W\x00\x01\x04\x08\x08\x08" +
                    raster(2, seed=3) + ESC + b"*v6W\x01\x01\x02\x08\x08\x08" +
                    ESC + b"*v6W\x00\x03\x18\x08\x08\x08" + ESC + b"*t4J" + ESC + b"*i3Wabc" +
                    ESC + b"*o2W\x01\x02" + ESC + b"&p1C" + ESC + b"&b4Wxxxx" +
                    ESC + b"&n5W\x04Name" + ESC + b"/l1O" + ESC + b"*v6W\x00\x00\xff\x08\x08\x08")
    c["hpgl"] = (ESC + b"E" + ESC + b"%1BIN;SP1;PA100,100;PD200,200;PU;" + ESC + b"%0A" +
                 ESC + b"*c100a50b0P" + ESC + b"&d@" + ESC + b"&d0D" + b"line" + ESC + b"z" +
                 ESC + b"9" + ESC + b"=" + ESC + b"Y" + b"display" + ESC + b"Z")
    c["resources"] = (pjl(b"QUVRESOURCEWRITE NAME=\"a\" SIZE=6", enter=b"") + b"\x1bE\x00\x01\xff\xfe" +
                      b"@PJL QUVWRITE DATA=H0A\r\n" + b"0123456789" + b"@PJL ENTER LANGUAGE = PCL\n" +
                      ESC + b"&l1o2A" + b"text")
    c["cut"] = page_setup() + raster(3, seed=4) + ESC + b"*b40W" + b"short" + ESC + b"&l1o"
    c["pcl_xl"] = (pjl(b"JOB", enter=b"@PJL ENTER LANGUAGE=PCLXL\r\n") +
                   b") HP-PCL XL;3;0\r\n" + bytes(random.Random(5).randrange(256) for _ in range(400)))
    c["binary"] = bytes(random.Random(6).randrange(256) for _ in range(2048))
    c["empty"] = b""
    return c


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    all_cases = cases()
    for name, data in all_cases.items():
        with open(os.path.join(folder, name + ".prn"), "wb") as f:
            f.write(data)
    with open(os.path.join(folder, "cases.txt"), "w") as f:
        f.write("".join(name + "\n" for name in all_cases))


if __name__ == "__main__":
    main()
