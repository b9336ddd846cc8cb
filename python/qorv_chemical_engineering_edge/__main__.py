"""`python -m qorv_chemical_engineering_edge` is the `qce` command."""
import sys

from .cli import main

sys.exit(main())
