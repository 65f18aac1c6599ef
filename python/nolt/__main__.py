from nolt.cli import end, main

end(main())
