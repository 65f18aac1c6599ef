from nolt.cli import main

raise SystemExit(main())
