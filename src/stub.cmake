# The installer stub (32-bit Windows GUI program). Filled in by the stub work.
