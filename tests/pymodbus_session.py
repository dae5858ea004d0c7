#!/usr/bin/python3
"""Every function code tesmar-sim serves, asked by pymodbus over TCP or over RTU.

usage: pymodbus_session.py -h HOST -p PORT | -d DEVICE   (tesmar's options for the peer)
Exits 0 only when every answer is right; a missing pymodbus is a failure, not a skip.
"""
import sys

from pymodbus.client import ModbusSerialClient, ModbusTcpClient


def check(client, bus):
    """Runs one request of each function code served; returns the failures."""
    failures = []

    def expect(what, got, want):
        if got != want:
            failures.append(f"{bus}: {what}: got {got!r}, want {want!r}")

    expect("FC3 presets", client.read_holding_registers(100, 2, slave=1).registers,
           [0x4148, 0x0000])
    expect("FC4 input 0", client.read_input_registers(0, 1, slave=1).registers, [0x4321])
    expect("FC6", client.write_register(10, 0xBEEF, slave=1).isError(), False)
    expect("FC16", client.write_registers(11, [1, 2, 3], slave=1).isError(), False)
    expect("FC3 after FC6 and FC16", client.read_holding_registers(10, 4, slave=1).registers,
           [0xBEEF, 1, 2, 3])
    expect("FC5", client.write_coil(3, True, slave=1).isError(), False)
    expect("FC15", client.write_coils(8, [True, False, True], slave=1).isError(), False)
    expect("FC1 after FC5 and FC15", client.read_coils(0, 11, slave=1).bits[:11],
           [False] * 3 + [True] + [False] * 4 + [True, False, True])
    expect("FC2", client.read_discrete_inputs(0, 8, slave=1).bits, [False] * 8)
    # pymodbus 3.0.0 takes the unit of this one function as "unit", not "slave".
    rw = client.readwrite_registers(read_address=20, read_count=2, write_address=21,
                                    write_registers=[0x7777], unit=1)
    expect("FC23 sees its own write", rw.registers, [0, 0x7777])
    expect("FC3 past the end", client.read_holding_registers(65535, 2, slave=1).exception_code,
           2)
    return failures


def main():
    args = sys.argv[1:]
    if args[0] == "-h":
        client, bus = ModbusTcpClient(args[1], port=int(args[3]), timeout=2), "tcp"
    else:
        client, bus = ModbusSerialClient(args[1], baudrate=19200, timeout=2), "rtu"
    client.connect()
    failures = check(client, bus)
    client.close()
    for failure in failures:
        print(failure)
    print(f"pymodbus session over {bus}: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
