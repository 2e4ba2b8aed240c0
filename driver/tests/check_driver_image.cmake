# Checks a kernel-mode image: i386, native subsystem, imports only allow-listed routines of
# ntoskrnl.exe and HAL.dll, exports nothing, carries a valid checksum, and its objects have no
# static constructors (which a driver would link silently and never run).
# cmake -DIMAGE=<file.sys> -DOBJDUMP=<objdump> [-DCHECKSUM=<pe_checksum>] [-DOBJECTS=a|b|...]
#       -P check_driver_image.cmake
set(allowed_ntoskrnl
  ExAllocatePoolWithTag ExFreePoolWithTag ExQueueWorkItem IoAllocateErrorLogEntry
  IoBuildDeviceIoControlRequest IoCancelIrp IoCreateDevice IoCreateUnprotectedSymbolicLink
  IoDeleteDevice IoDeleteSymbolicLink IoGetConfigurationInformation IoGetDeviceObjectPointer
  IoWriteErrorLogEntry IofCallDriver IofCompleteRequest IoAcquireCancelSpinLock
  IoReleaseCancelSpinLock KeClearEvent KeDelayExecutionThread KeInitializeEvent
  KeInitializeSemaphore KeQueryTimeIncrement KeReadStateEvent KeSetEvent KeTickCount
  KeWaitForSingleObject KeReleaseSemaphore MmPageEntireDriver MmResetDriverPaging
  ObfDereferenceObject ObfReferenceObject RtlCheckRegistryKey RtlDeleteRegistryValue
  RtlQueryRegistryValues RtlWriteRegistryValue PsCreateSystemThread ObReferenceObjectByHandle
  PsThreadType ZwClose ZwWaitForSingleObject PsTerminateSystemThread KeGetCurrentThread
  KeSetBasePriorityThread MmMapLockedPagesSpecifyCache KeQuerySystemTime memcpy memset memmove)
set(allowed_hal
  ExAcquireFastMutex ExReleaseFastMutex KeQueryPerformanceCounter KeStallExecutionProcessor
  KfLowerIrql KfRaiseIrql KeGetCurrentIrql READ_PORT_UCHAR WRITE_PORT_UCHAR
  WRITE_PORT_BUFFER_UCHAR)

execute_process(COMMAND ${OBJDUMP} -p ${IMAGE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${IMAGE} failed")
endif()
if(NOT dump MATCHES "file format pei-i386")
  message(FATAL_ERROR "${IMAGE}: not an i386 image")
endif()
if(NOT dump MATCHES "Subsystem[ \t]+00000001")
  message(FATAL_ERROR "${IMAGE}: subsystem is not native")
endif()
if(dump MATCHES "Export Address Table[ \t]+([0-9a-fA-F]+)\n")
  if(NOT CMAKE_MATCH_1 MATCHES "^0+$")
    message(FATAL_ERROR "${IMAGE}: exports ${CMAKE_MATCH_1} routines")
  endif()
endif()

# Imports, DLL by DLL: objdump lists "DLL Name: x" and then one "hint name" line per routine.
string(REPLACE "\n" ";" lines "${dump}")
set(dll "")
set(saw_kernel OFF)
foreach(line IN LISTS lines)
  if(line MATCHES "DLL Name: (.+)$")
    string(STRIP "${CMAKE_MATCH_1}" dll)
    string(TOLOWER "${dll}" dll)
    if(dll STREQUAL "ntoskrnl.exe")
      set(saw_kernel ON)
    elseif(NOT dll STREQUAL "hal.dll")
      message(FATAL_ERROR "${IMAGE}: imports from ${dll}")
    endif()
  elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+  ([A-Za-z_@0-9]+)$")
    set(name ${CMAKE_MATCH_1})
    if(dll STREQUAL "ntoskrnl.exe")
      list(FIND allowed_ntoskrnl ${name} at)
    else()
      list(FIND allowed_hal ${name} at)
    endif()
    if(at LESS 0)
      message(FATAL_ERROR "${IMAGE}: imports ${name} from ${dll}, which is not allowed")
    endif()
    list(APPEND imported ${name})
  elseif(line MATCHES "^$" OR line MATCHES "^The ")
    set(dll "")
  endif()
endforeach()
if(NOT saw_kernel OR NOT imported)
  message(FATAL_ERROR "${IMAGE}: does not import from ntoskrnl.exe")
endif()

if(CHECKSUM)
  execute_process(COMMAND ${CHECKSUM} --check ${IMAGE} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${IMAGE}: checksum is not valid")
  endif()
endif()

if(OBJECTS)
  string(REPLACE "|" ";" objects "${OBJECTS}")
  foreach(object IN LISTS objects)
    execute_process(COMMAND ${OBJDUMP} -h ${object} OUTPUT_VARIABLE sections RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${OBJDUMP} -h ${object} failed")
    endif()
    if(sections MATCHES "\\.ctors|\\.init_array")
      message(FATAL_ERROR "${object}: has static constructors")
    endif()
  endforeach()
endif()
list(LENGTH imported count)
message(STATUS "${IMAGE}: i386, native, ${count} allowed imports, no exports, checksum valid")
